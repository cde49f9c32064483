// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_database.h"

#include <QMap>

// A teacher's names for the children of their classes, who reach the
// class's server as a computer and a player key only: the names stay in
// the teacher's own history, and are never sent.
class ChildNames
{
public:
    using Child = std::pair<QString, QString>; // computer, player key

    explicit ChildNames(const QString &connectionName);
    QMap<Child, QString> all();
    // Kept as one line of ordinary text that fits in a column and a CSV
    // row; an empty name forgets the child's.
    bool name(const Child &child, const QString &name);
    QString problem() const { return m_history.problem(); }

private:
    HistoryDatabase m_history;
};
