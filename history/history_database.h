// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// A damaged history that was set aside, and when.
struct SetAside
{
    QString file;
    QDateTime when;
};

// The history of answers: an SQLite database in the user's data folder
// ($XDG_DATA_HOME/additions, %LOCALAPPDATA%\Additions), through Qt SQL.
// Answers are kept in the order they were recorded, with their time in UTC.
// A damaged file is set aside and a new one started; one that cannot be
// written is still read. One object per thread, each with a connection of
// its own name; what reads it (Progrès, the export, a class's outbox) runs
// its queries on connection().
class HistoryDatabase final
{
public:
    explicit HistoryDatabase(const QString &connectionName);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase &) = delete;
    HistoryDatabase &operator=(const HistoryDatabase &) = delete;

    static QString path();
    bool isOpen() const { return m_open; }
    QSqlDatabase &connection() { return m_db; }
    // Why the history cannot be opened or written, as one French sentence
    // that names the file and says what to do; empty when all is well.
    QString problem() const { return m_problem; }
    // Keeps the first failure's sentence; always false.
    bool failed(const QSqlError &error);

    bool insert(const HistoryRow &row);
    bool clear(const QString &player);

    // Damaged histories set aside that no adult has dismissed yet.
    QList<SetAside> setAside();
    bool dismissSetAside();

private:
    bool open();
    QSqlError connect(bool readOnly);
    void disconnect();

    QSqlDatabase m_db;
    QString m_connection;
    bool m_open = false;
    QString m_problem;
};
