// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlDatabase>
#include <QString>

class HistoryDatabase;

// The class's server: the school's PostgreSQL, reached through libpq's
// service "additions" that the administrator sets up (pg_service.conf, the
// password in ~/.pgpass or a client certificate). Where no such service is
// set up, nothing here loads a driver or opens a connection.
//
// The history on this computer stays the record, and is the outbox: each
// answer carries an id made here, the server keeps an answer sent twice
// once, and an answer is marked sent once the server has it.
class ClassServer
{
public:
    // Whether libpq would find the service (the computers' "additions", or a
    // teacher's "additions-enseignant"): in $PGSERVICEFILE (or
    // ~/.pg_service.conf), or in the system's pg_service.conf.
    static bool configured(const QString &service = QStringLiteral("additions"));
    // The connection options of a service: libpq's own conventions, and
    // over the network only TLS with a certificate the school's authority
    // signed for that very server (a Unix socket needs none).
    static QString connectOptions(const QString &service);

    explicit ClassServer(const QString &connectionName);
    ~ClassServer();
    ClassServer(const ClassServer &) = delete;
    ClassServer &operator=(const ClassServer &) = delete;

    // Sends every answer the server lacks, oldest first, in batches of one
    // transaction each. Blocks for up to the connection's timeout: never on
    // the window's thread. False when the server could not be reached or
    // refused them; problem() then says why, in French.
    bool send(HistoryDatabase &history);
    QString problem() const { return m_problem; }
    // Whether the server answers now; problem() says why not.
    bool reachable() { return connect(); }

private:
    bool connect();
    bool failed(const QString &sentence);

    QString m_connection;
    QSqlDatabase m_db;
    QString m_problem;
};
