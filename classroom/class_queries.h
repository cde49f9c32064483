// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/child_names.h"
#include "classroom/class_connection.h"
#include "classroom/class_view.h"
#include "services/notice.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QSqlQuery;

// A teacher's view of their classes, from the class's server through the
// teacher's own libpq service "additions-enseignant", on a thread of its
// own. Row-level security on the server limits it to the teacher's
// classes. Once shown, it follows the class: read again within a second of
// an answer or an erasure, a computer or a class given or taken. It finds
// its own way back to a server that restarted or lost its database.
class ClassQueries final : public QObject
{
    Q_OBJECT

public:
    ClassQueries();

    void load();
    // Every answer of the teacher's classes, as the history's export writes
    // them, with the computer and the child's name.
    void exportTo(const QByteArray &file);
    // Erases a child's answers on the server, on request: only in the
    // teacher's own classes.
    void erase(const ChildNames::Child &child);
    // The teacher's name for a child, kept on this machine; an empty name
    // forgets it.
    void name(const ChildNames::Child &child, const QString &name);
    // One child's answers and their sums by carries; the views loaded
    // after it carry that child's, read with the class.
    void loadChild(const ChildNames::Child &child);

Q_SIGNALS:
    void loaded(const ClassView &view);
    void childLoaded(const ChildDetail &child);
    // The end of an export or an erasure: empty when it succeeded, else why.
    void done(const Notice &failure);

private:
    bool connect();
    // Asked every second: whether the server still answers, and whether the
    // teacher's classes changed since they were read.
    void check();
    // The class as last read, and why and since when it is not read again.
    void away(const Notice &why);
    // A read the server refused: the query freed, the connection told, and
    // why in French.
    Notice readingFailed(QSqlQuery &query);
    ChildNames &names();

    ClassConnection m_server;
    std::unique_ptr<ChildNames> m_names; // opened on the thread, when first needed
    QTimer m_poll;
    QString m_seen;           // the classes' count of changes when last read
    QDeadlineTimer m_nextTry; // a server away is asked again when it expires
    std::optional<ChildNames::Child> m_chosen;
    ClassView m_last; // the last view read
};
