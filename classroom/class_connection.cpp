// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

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

// Why libpq could not connect, in French, from the causes an adult can act
// on; libpq's own words go behind "Détails".
QString cause(const QString &libpq)
{
    const auto says = [&libpq](std::initializer_list<const char *> words) {
        return std::any_of(words.begin(), words.end(), [&libpq](const char *word) {
            return libpq.contains(QLatin1StringView(word), Qt::CaseInsensitive);
        });
    };
    if (says({"password", "authentication failed"}))
        return QStringLiteral("le serveur a refusé le mot de passe de cet ordinateur "
                              "(fichier .pgpass ou pgpass.conf)");
    if (says({"certificate", "SSL", "TLS"}))
        return QStringLiteral("le certificat du serveur n'a pas été reconnu (certificat de "
                              "l'autorité de l'école, nom du serveur)");
    if (says({"timeout"}))
        return QStringLiteral("le serveur n'a pas répondu à temps");
    if (says({"too many", "connection slots", "connection limit"}))
        return QStringLiteral("le serveur a trop de connexions ouvertes pour cet ordinateur");
    if (says({"does not exist", "not permitted to log in", "no pg_hba.conf entry"}))
        return QStringLiteral("le serveur ne connaît pas cet ordinateur : son administrateur "
                              "doit l'ajouter");
    return QStringLiteral("le réseau est coupé, ou le serveur est arrêté");
}

// On Windows, libpq and OpenSSL look for their settings where the build
// machine kept them (C:\usr\local\ssl, and a folder under C:\ for
// pg_service.conf): folders that any user of the computer may create, and
// plant a service naming another server in. They look in the program's own
// folder instead, which only whoever installed it can write. Settings the
// user's own environment gives stay.
void confineSettings()
{
#ifdef Q_OS_WIN
    static const bool confined = [] {
        const QByteArray folder =
            QFile::encodeName(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
        if (!qEnvironmentVariableIsSet("PGSYSCONFDIR"))
            qputenv("PGSYSCONFDIR", folder);
        if (!qEnvironmentVariableIsSet("OPENSSL_CONF"))
            qputenv("OPENSSL_CONF", folder + "\\openssl.cnf");
        return true;
    }();
    Q_UNUSED(confined);
#endif
}

} // namespace

bool ClassConnection::configured(const char *service)
{
    confineSettings();
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

bool ClassConnection::failed(const QString &sentence, const QString &details)
{
    m_problem = sentence;
    m_details = details;
    m_versionAgreed = false;
    m_db.close();
    return false;
}

bool ClassConnection::open()
{
    if (m_db.isOpen())
        return true;
    confineSettings();
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
    if (!m_db.open()) {
        const QString libpq = m_db.lastError().text().trimmed();
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas pu être "
                                     "joint : %2.")
                          .arg(m_service, cause(libpq)),
                      libpq);
    }
    if (m_versionAgreed) {
        m_problem.clear();
        m_details.clear();
        return true;
    }
    int found = 0;
    QSqlError error;
    {
        QSqlQuery version(m_db);
        if (version.exec(QStringLiteral("SELECT additions.version()")) && version.next())
            found = version.value(0).toInt();
        error = version.lastError();
    }
    if (error.isValid() && !QStringList{QStringLiteral("42883"), QStringLiteral("3F000")}.contains(
                               error.nativeErrorCode())) // no such function, or schema
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas répondu.")
                          .arg(m_service),
                      error.text().trimmed());
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
    m_details.clear();
    return true;
}
