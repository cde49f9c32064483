// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_module.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

Q_DECLARE_METATYPE(AnswerRecord)

// For one level: how many answers, and how many of them right.
struct LevelSummary
{
    int bound = 0;
    int answers = 0;
    int right = 0;
};

// The history of answers: an SQLite database in the user's data folder
// ($XDG_DATA_HOME/additions, %LOCALAPPDATA%\Additions), through Qt SQL. The
// SQL is the portable kind, so that the same queries run on PostgreSQL; what
// only SQLite needs is in one place (the connection's options). One object
// per thread, each with a connection of its own name.
class HistoryDatabase final : public HistoryWriter
{
public:
    explicit HistoryDatabase(const QString &connectionName);
    ~HistoryDatabase() override;
    HistoryDatabase(const HistoryDatabase &) = delete;
    HistoryDatabase &operator=(const HistoryDatabase &) = delete;

    static QString path();
    bool isOpen() const { return m_open; }
    // What the Progrès window tells a parent, in French: a damaged file set
    // aside, a database that cannot be opened; empty when all is well.
    QString problem() const { return m_problem; }

    bool insert(const HistoryRow &row) override;
    // The queries take a period's start; an invalid one means all.
    // Every player key with answers, in order.
    QStringList players();
    QList<LevelSummary> levels(const QString &player, const QDateTime &since);
    QList<HistoryRow> lastAnswers(const QString &player, const QDateTime &since, int count);
    bool clear(const QString &player);
    // Every answer, as French spreadsheets open it directly: UTF-8 with a
    // byte-order mark, ';' between fields.
    bool exportCsv(const QString &file);

private:
    bool open();
    QList<HistoryRow> rows(const QString &sql, const QString &player, const QDateTime &since,
                           int count);

    QSqlDatabase m_db;
    QString m_connection;
    bool m_open = false;
    QString m_problem;
};
