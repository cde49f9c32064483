// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <functional>

// For one level: how many answers, and how many of them right.
struct LevelSummary
{
    int bound = 0;
    int answers = 0;
    int right = 0;
};

// A damaged history that was set aside, and when.
struct SetAside
{
    QString file;
    QDateTime when;
};

// An answer the class's server does not have yet.
struct PendingAnswer
{
    qint64 id = 0;
    QString uuid;
    HistoryRow row;
};

// The history of answers: an SQLite database in the user's data folder
// ($XDG_DATA_HOME/additions, %LOCALAPPDATA%\Additions), through Qt SQL. The
// SQL is the portable kind, so that the same queries run on PostgreSQL; what
// only SQLite needs is in one block of the source. Answers are kept in the
// order they were recorded, with their time in UTC. One object per thread,
// each with a connection of its own name.
class HistoryDatabase final
{
public:
    explicit HistoryDatabase(const QString &connectionName);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase &) = delete;
    HistoryDatabase &operator=(const HistoryDatabase &) = delete;

    static QString path();
    bool isOpen() const { return m_open; }
    // Why the history cannot be opened or written, as one French sentence
    // that names the file and says what to do; empty when all is well.
    QString problem() const { return m_problem; }

    bool insert(const HistoryRow &row);
    // The queries take a period's start; an invalid one means all.
    // Every player key with answers, in order.
    QStringList players();
    QList<LevelSummary> levels(const QString &player, const QDateTime &since);
    // The newest first.
    QList<HistoryRow> lastAnswers(const QString &player, const QDateTime &since, int count);
    bool clear(const QString &player);
    // Every answer, in the order recorded; false when they could not all be read.
    bool eachAnswer(const std::function<void(const HistoryRow &)> &take);

    // The oldest answers not yet on the class's server, at most `count`.
    QList<PendingAnswer> unsent(int count);
    bool markSent(const QList<PendingAnswer> &answers);
    int unsentCount();

    // A teacher's names for the children of the class's server, by computer
    // and player key; an empty name forgets the child's.
    QMap<std::pair<QString, QString>, QString> classNames();
    bool nameChild(const QString &machine, const QString &player, const QString &name);

    // Damaged histories set aside that no adult has dismissed yet.
    QList<SetAside> setAside();
    bool dismissSetAside();

private:
    bool open();
    bool prepareFiles();
    QSqlError connect(bool readOnly);
    void disconnect();
    // Keeps the first failure's sentence; always false.
    bool failed(const QSqlError &error);

    QSqlDatabase m_db;
    QString m_connection;
    bool m_open = false;
    QString m_problem;
};
