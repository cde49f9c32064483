// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/child_names.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr int kLongestName = 60;

} // namespace

ChildNames::ChildNames(const QString &connectionName) : m_history(connectionName)
{
    QSqlQuery(m_history.connection())
        .exec(QStringLiteral("CREATE TABLE IF NOT EXISTS class_names (machine VARCHAR(1000) NOT "
                             "NULL, player VARCHAR(1000) NOT NULL, name VARCHAR(1000) NOT NULL, "
                             "PRIMARY KEY (machine, player))"));
}

QMap<ChildNames::Child, QString> ChildNames::all()
{
    QSqlQuery query(m_history.connection());
    QMap<Child, QString> names;
    if (query.exec(QStringLiteral("SELECT machine, player, name FROM class_names")))
        while (query.next())
            names.insert({query.value(0).toString(), query.value(1).toString()},
                         query.value(2).toString());
    return names;
}

bool ChildNames::name(const Child &child, const QString &name)
{
    QString kept = name;
    kept.removeIf([](QChar c) { return c.category() == QChar::Other_Control && !c.isSpace(); });
    kept = kept.simplified().left(kLongestName);
    if (!m_history.isOpen())
        return false;
    QSqlQuery query(m_history.connection());
    query.prepare(kept.isEmpty()
                      ? QStringLiteral("DELETE FROM class_names WHERE machine = ? AND player = ?")
                      : QStringLiteral("INSERT INTO class_names VALUES (?, ?, ?) ON CONFLICT "
                                       "(machine, player) DO UPDATE SET name = excluded.name"));
    query.addBindValue(child.first);
    query.addBindValue(child.second);
    if (!kept.isEmpty())
        query.addBindValue(kept);
    return query.exec() || m_history.failed(query.lastError());
}
