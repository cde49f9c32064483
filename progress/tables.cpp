// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/tables.h"

#include <QHeaderView>
#include <QTableWidget>

QTableWidget *readOnlyTable(const QString &name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()));
    table->setAccessibleName(name);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Arrows move in the table, a row at a time, and Tab leaves it, as a
    // screen reader's user expects.
    table->setTabKeyNavigation(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void fillTable(QTableWidget *table, const QList<QStringList> &rows, int editableColumn)
{
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) {
            auto *item = new QTableWidgetItem(rows[r][c]);
            // Before the item is in the table: each change after costs a
            // pass over the column to size it. Read-only tables keep Qt's
            // default flags: with read-only cells, Orca read the last
            // answers' table as Progrès opened instead of the player, which
            // has the keyboard.
            if (editableColumn >= 0 && c != editableColumn)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            table->setItem(r, c, item);
        }
    if (!rows.isEmpty() && table->currentRow() < 0)
        table->setCurrentCell(0, 0);
}
