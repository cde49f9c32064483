// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// A window opens as the adult left it, else sized to what it holds, always
// within the screen it opens on. Kept in this program's own settings
// (additions-progres.ini in the user's configuration folder), never beside
// the game's scores.
void restoreSize(QWidget *window);
void keepSize(const QWidget *window);
