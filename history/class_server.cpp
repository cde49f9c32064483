// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/class_server.h"

#include "history/history_database.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

constexpr int kBatch = 100;

bool hasService(const QString &file, const QString &service)
{
    QFile services(file);
    if (!services.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!services.atEnd())
        if (services.readLine().trimmed() == "[" + service.toUtf8() + "]")
            return true;
    return false;
}

} // namespace

bool ClassServer::configured(const QString &service)
{
    // Where libpq looks, in its order: the user's file, then the system's.
    const QString home = QDir::homePath();
    const QString user =
        qEnvironmentVariableIsSet("PGSERVICEFILE")
            ? qEnvironmentVariable("PGSERVICEFILE")
#ifdef Q_OS_WIN
            : qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/.pg_service.conf");
#else
            : home + QStringLiteral("/.pg_service.conf");
#endif
    const QString system =
        (qEnvironmentVariableIsSet("PGSYSCONFDIR") ? qEnvironmentVariable("PGSYSCONFDIR")
                                                   : QStringLiteral("/etc/postgresql-common")) +
        QStringLiteral("/pg_service.conf");
    return hasService(user, service) || hasService(system, service);
}

QString ClassServer::connectOptions(const QString &service)
{
    // The service names the server, the database and the role; the password
    // is in ~/.pgpass.
    return QStringLiteral("service=%1;connect_timeout=2;sslmode=verify-full;"
                          "application_name=additions")
        .arg(service);
}

ClassServer::ClassServer(const QString &connectionName) : m_connection(connectionName) {}

ClassServer::~ClassServer()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool ClassServer::failed(const QString &sentence)
{
    m_problem = sentence;
    // A server restarted keeps the connection open until a query fails:
    // the next try opens a new one.
    m_db.close();
    return false;
}

bool ClassServer::connect()
{
    if (m_db.isOpen())
        return true;
    if (!m_db.isValid()) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return failed(QStringLiteral("Les réponses ne peuvent pas être envoyées au serveur de "
                                         "la classe : le pilote PostgreSQL de Qt manque (paquet "
                                         "libqt6sql6-psql)."));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
        m_db.setConnectOptions(connectOptions(QStringLiteral("additions")));
    }
    // open()'s own result: lastError() may still hold an earlier failure.
    if (m_db.open())
        return true;
    return failed(QStringLiteral("Le serveur de la classe (service « additions ») n'a pas pu être "
                                 "joint : les réponses restent sur cet ordinateur et partiront "
                                 "dès qu'il répondra. Vérifiez le réseau, le mot de passe et le "
                                 "certificat (%1).")
                      .arg(m_db.lastError().text().trimmed()));
}

bool ClassServer::send(HistoryDatabase &history)
{
    if (!connect())
        return false;
    for (;;) {
        const QList<PendingAnswer> batch = history.unsent(kBatch);
        if (batch.isEmpty())
            return true;
        const auto refused = [this](const QSqlError &error) {
            return failed(QStringLiteral("Le serveur de la classe a refusé les réponses (%1).")
                              .arg(error.text().trimmed()));
        };
        if (!m_db.transaction())
            return refused(m_db.lastError());
        QSqlQuery record(m_db);
        record.prepare(
            QStringLiteral("SELECT additions.record_answer(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const PendingAnswer &pending : batch) {
            const AnswerRecord &a = pending.row.answer;
            for (const QVariant &value :
                 {QVariant(QUuid::fromString(pending.uuid)), QVariant(a.player), QVariant(a.bound),
                  QVariant(a.first), QVariant(a.second), QVariant(a.answer), QVariant(a.right),
                  QVariant(a.stake), QVariant(a.scoreAfter), QVariant(a.scoreKept),
                  QVariant(pending.row.when.toUTC().toString(Qt::ISODateWithMs))})
                record.addBindValue(value);
            if (!record.exec()) {
                const QSqlError error = record.lastError();
                m_db.rollback();
                return refused(error);
            }
        }
        if (!m_db.commit())
            return refused(m_db.lastError());
        // Had the mark failed, the next try sends them again: the server
        // keeps each once.
        if (!history.markSent(batch))
            return failed(history.problem());
        m_problem.clear();
    }
}
