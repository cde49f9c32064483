// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QMap>
#include <QStringList>

class QTableView;
class QTableWidget;

// A read-only table a screen reader reads row by row, its columns as wide as
// what they hold at any font size.
QTableWidget *readOnlyTable(const QString &name, const QStringList &headers);
// The same look and keys for a table over a model of its own, once set.
void setUpTable(QTableView *table, const QString &name);
// Fills it, the first row current: entering the table, a screen reader
// reads it.
void fillTable(QTableWidget *table, const QList<QStringList> &rows);
// Makes a cell current, its row chosen, without a word to a screen reader
// unless the table has the keyboard.
void chooseCell(QTableView *table, int row, int column);

// "moins de 50" to "moins de 10 000", as the game's buttons say.
QString levelName(int bound);
// The share of right answers, "67 %"; empty without answers.
QString shareText(const Tally &tally);

// A moment in this computer's time: in a table or a report ("31/01/2027
// 14:05"), its day alone, and in a sentence ("31/01/2027 à 14:05"). The
// formats are written here only.
QString shownTime(const QDateTime &when);
QString shownDay(const QDateTime &when);
QString shownTimeInSentence(const QDateTime &when);

// An answer as the tables of last answers show it: when, the sum, the
// answer, whether it was right, the score after it.
QStringList answerCells(const HistoryRow &row);
QStringList answerHeaders();

// By the number of carries their sums make: the answers and share right, a
// row each, the hardest (the smallest share right) first.
QList<QStringList> carriesRows(const QMap<int, Tally> &carries);
QStringList carriesHeaders();
