// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QVariant>

class QWidget;

// A window opens as the adult left it, else sized to what it holds, always
// within the screen it opens on. Kept in this program's own settings
// (additions-progres.ini in the user's configuration folder), never beside
// the game's scores.
void restoreSize(QWidget *window);
void keepSize(const QWidget *window);
// Resizes the window to `wanted`, or less: it never leaves its screen, frame
// included, whatever the scale and font. The size it took.
QSize fitToScreen(QWidget *window, QSize wanted);

// Anything else the adult left as it is, such as a splitter's place.
QVariant remembered(const QString &key);
void remember(const QString &key, const QVariant &value);
