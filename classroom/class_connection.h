// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <atomic>
#include <chrono>

// A connection to the class's server: the school's PostgreSQL, reached
// through a libpq service that the administrator sets up (pg_service.conf,
// the password in ~/.pgpass or a client certificate). Where no such service
// is set up, nothing here loads a driver or opens a connection. Over the
// network it takes only TLS, with a certificate that the school's authority
// signed for that very server; a Unix socket needs none. Opened on the
// thread that uses it, under a connection name of its own.
class ClassConnection
{
public:
    // The computers' service, and the teachers'.
    static constexpr const char *kComputer = "additions";
    static constexpr const char *kTeacher = "additions-enseignant";
    // The version of classe.sql this program speaks; it sends nothing to
    // another.
    static constexpr int kSchemaVersion = 4;

    // Whether libpq would find the service: in $PGSERVICEFILE (or
    // ~/.pg_service.conf), or in the system's pg_service.conf.
    static bool configured(const char *service);
    // How the server answers a connection made as `db`'s is, tried through
    // libpq (Qt's driver keeps no SQLSTATE of a failed one): "00000" when
    // it takes it, the SQLSTATE with which it refuses, or empty when it
    // does not answer.
    static QString refusalState(const QSqlDatabase &db);

    // With a statement limit, each statement of the connection ends within
    // it (and a lock is waited for a few seconds at most), failing with
    // SQLSTATE 57014 or 55P03. A connection is given up after
    // `connectLimit` (whole seconds, as libpq counts them).
    ClassConnection(const char *service, const QString &connectionName,
                    std::chrono::milliseconds statementLimit = {},
                    std::chrono::seconds connectLimit = std::chrono::seconds(2));
    ~ClassConnection();
    ClassConnection(const ClassConnection &) = delete;
    ClassConnection &operator=(const ClassConnection &) = delete;

    // Opens the connection unless it is open. Blocks for up to the
    // connection's timeout: never on the window's thread. False when the
    // server cannot be reached or speaks another version; problem() then
    // says why, in French.
    bool open();
    QSqlDatabase &db() { return m_db; }
    // Closes; the server's version is asked again at the next open, as an
    // administrator may have changed it meanwhile.
    void close()
    {
        m_db.close();
        m_versionAgreed = false;
    }
    QString problem() const { return m_problem; }
    // The library's own words behind problem(), for a "Détails" button.
    QString details() const { return m_details; }
    // Keeps why a query failed, and closes: a restarted server leaves the
    // connection open until a query fails, and the next open() makes a new
    // one. Always false.
    bool failed(const QString &sentence, const QString &details = {});

private:
    static std::atomic<int> s_opened;
    // Whether the server runs this program's version of the class's
    // tables; false, with the reason kept, when not.
    bool agreeOnVersion();

    QString m_service;
    QString m_name;
    std::chrono::milliseconds m_statementLimit;
    std::chrono::seconds m_connectLimit;
    QSqlDatabase m_db;
    QString m_problem;
    QString m_details;
    // The server's version agreed at an earlier open, and nothing has
    // failed since: it is not asked again at each answer.
    bool m_versionAgreed = false;
};

// Why the server refused a statement, in French: the class's own checks say
// it in French already; the server's other refusals are named by their
// code, the server's words being in its own language.
QString serverRefusal(const QSqlError &error);
