// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_view.h"

#include <QHash>
#include <QTableView>

#include <functional>
#include <optional>

class ChildrenModel;
class QSortFilterProxyModel;

// The class as a grid, a child a row: any number of them, since only the
// rows on screen are drawn. A click on a header sorts by what the column
// holds (a mark by its rank, a date as a date); a filter keeps the children
// who need the teacher. The chosen child stays chosen through both and
// through each reading of the class, or nobody is when they are hidden.
class ClassGrid final : public QTableView
{
public:
    enum Filter { Everyone, ToReview, Away };
    // `named`: the teacher typed a name for a child (F2 or a double click).
    explicit ClassGrid(std::function<void(const ClassChild &)> named);

    // The class as read at `now`, which tells who has been away a week.
    void setChildren(QList<ClassChild> children, const QDateTime &now);
    void setFilter(Filter filter);
    const ClassChild *chosen() const;
    // The size that shows every row and column of the class.
    QSize wholeSize() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void chooseAgain();
    void fitColumns();

    ChildrenModel *m_model;
    QSortFilterProxyModel *m_order;
    std::optional<std::pair<QString, QString>> m_chosen; // computer, player
    QHash<QString, int> m_widths; // the texts measured, with their digits the widest
};
