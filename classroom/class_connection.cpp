// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_connection.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

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

bool ClassConnection::configured(const char *service)
{
    // Where libpq looks, in its order: the user's file, then the system's.
    const QString user =
        qEnvironmentVariableIsSet("PGSERVICEFILE")
            ? qEnvironmentVariable("PGSERVICEFILE")
#ifdef Q_OS_WIN
            : qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/.pg_service.conf");
#else
            : QDir::homePath() + QStringLiteral("/.pg_service.conf");
#endif
    const QString system =
        (qEnvironmentVariableIsSet("PGSYSCONFDIR") ? qEnvironmentVariable("PGSYSCONFDIR")
                                                   : QStringLiteral("/etc/postgresql-common")) +
        QStringLiteral("/pg_service.conf");
    const QString name = QString::fromLatin1(service);
    return hasService(user, name) || hasService(system, name);
}

ClassConnection::ClassConnection(const char *service, const QString &connectionName)
    : m_service(QString::fromLatin1(service)), m_name(connectionName)
{}

ClassConnection::~ClassConnection()
{
    m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

bool ClassConnection::failed(const QString &sentence)
{
    m_problem = sentence;
    m_versionAgreed = false;
    m_db.close();
    return false;
}

bool ClassConnection::open()
{
    if (m_db.isOpen())
        return true;
    if (!m_db.isValid()) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return failed(QStringLiteral("Le serveur de la classe ne peut pas être joint : le "
                                         "pilote PostgreSQL de Qt manque (paquet "
                                         "libqt6sql6-psql)."));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        // The service names the server, the database and the role.
        m_db.setConnectOptions(QStringLiteral("service=%1;connect_timeout=2;sslmode=verify-full;"
                                              "application_name=additions")
                                   .arg(m_service));
    }
    // open()'s own result: lastError() may still hold an earlier failure.
    if (!m_db.open())
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas pu être "
                                     "joint : vérifiez le réseau, le mot de passe et le "
                                     "certificat (%2).")
                          .arg(m_service, m_db.lastError().text().trimmed()));
    if (m_versionAgreed) {
        m_problem.clear();
        return true;
    }
    QSqlQuery version(m_db);
    int found = 0;
    if (version.exec(QStringLiteral("SELECT additions.version()")) && version.next())
        found = version.value(0).toInt();
    else if (!QStringList{QStringLiteral("42883"), QStringLiteral("3F000")}.contains(
                 version.lastError().nativeErrorCode())) // no such function, or schema
        return failed(QStringLiteral("Le serveur de la classe n'a pas répondu (%1).")
                          .arg(version.lastError().text().trimmed()));
    if (found > kSchemaVersion)
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») est d'une version "
                                     "plus récente que ce programme : mettez Additions à jour "
                                     "sur cet ordinateur.")
                          .arg(m_service));
    if (found < kSchemaVersion)
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») est d'une version "
                                     "plus ancienne que ce programme : son administrateur doit y "
                                     "passer le fichier classe.sql de cette version, qui garde "
                                     "toutes ses réponses.")
                          .arg(m_service));
    m_versionAgreed = true;
    m_problem.clear();
    return true;
}
