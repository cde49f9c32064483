// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_view.h"
#include "history/mastery.h"

#include <QColor>
#include <QMap>
#include <QString>
#include <QVariant>

class QLabel;
class QTableWidget;

// How a mark looks in a grid: a symbol that tells the four apart in black
// and white, and a fill that colour-blind eyes tell apart too (orange, sky
// blue and a dark bluish green, lighter to darker as the child progresses),
// with the text colour that reads on it in a light theme or a dark one.
struct MarkLook
{
    QString symbol;
    QColor fill; // invalid: the table's own background
    QColor text; // invalid: the table's own text
};
MarkLook markLook(Mastery level);

// "◑ familier", as a cell shows it.
QString markText(Mastery level);

// "moins de 200 : familier, 14 réponses justes sur les 20 dernières", as a
// screen reader reads a cell and a tooltip shows it.
QString markDescription(int bound, const Tally &last);

// A grid's cell for a level: its mark's text, colours, and its count on
// hover and for a screen reader, by Qt's item role.
QVariant markCellData(int bound, const Tally &last, int role);

// A child as a grid names them: the teacher's name, else their computer and
// player key.
QString shownName(const ClassChild &child);

// The legend under a grid.
QLabel *markLegend();

// A one-row grid of a player's marks, a column per level.
QTableWidget *markRow();
void fillMarkRow(QTableWidget *row, const QMap<int, Tally> &recent);
