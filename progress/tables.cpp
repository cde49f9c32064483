// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/tables.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QTableWidget>

QTableWidget *readOnlyTable(const QString &name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()));
    setUpTable(table, name);
    table->setHorizontalHeaderLabels(headers);
    return table;
}

void setUpTable(QTableView *table, const QString &name)
{
    table->setAccessibleName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Arrows move in the table, a row at a time, and Tab leaves it, as a
    // screen reader's user expects.
    table->setTabKeyNavigation(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
}

void fillTable(QTableWidget *table, const QList<QStringList> &rows)
{
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    if (!rows.isEmpty() && table->currentRow() < 0)
        chooseCell(table, 0, 0);
}

void chooseCell(QTableView *table, int row, int column)
{
    if (table->hasFocus()) {
        table->setCurrentIndex(table->model()->index(row, column));
        return;
    }
    // A table tells a screen reader the keyboard came to it whenever its
    // current cell changes, even when the keyboard is elsewhere: Orca then
    // left the player for the table as Progrès filled it.
    {
        const QSignalBlocker quiet(table->selectionModel());
        table->selectionModel()->setCurrentIndex(table->model()->index(row, column),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    }
    table->viewport()->update();
}

QString levelName(int bound)
{
    QString number = QString::number(bound);
    if (number.size() > 4)
        number.insert(number.size() - 3, u' ');
    return QStringLiteral("moins de ") + number;
}

QString shareText(const Tally &tally)
{
    return tally.answers > 0 ? QStringLiteral("%1 %").arg(100 * tally.right / tally.answers)
                             : QString();
}
