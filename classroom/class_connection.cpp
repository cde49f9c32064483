// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

using Parameters = QMap<QString, QString>;

// A service's parameters in a libpq service file ("key=value" lines under
// "[service]"); none when the file or the section is not there.
std::optional<Parameters> serviceSection(const QString &file, const QString &service)
{
    QFile services(file);
    if (!services.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    std::optional<Parameters> found;
    bool inside = false;
    while (!services.atEnd()) {
        QString line = QString::fromUtf8(services.readLine()).trimmed();
        if (line.startsWith(QChar(0xFEFF))) // a byte-order mark, from Notepad
            line = line.mid(1).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inside = line == u'[' + service + u']';
            if (inside && !found)
                found = Parameters();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inside && equals > 0)
            found->insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return found;
}

// A service as libpq finds it, in its order: the user's file, then the
// system's.
std::optional<Parameters> findService(const QString &service)
{
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
    if (std::optional<Parameters> found = serviceSection(user, service))
        return found;
    return serviceSection(system, service);
}

#ifdef Q_OS_WIN
// A file's short path, in ASCII, where the file system keeps one: libpq and
// OpenSSL open files through the ANSI code page.
QString ansiPath(const QString &path)
{
    const std::wstring wide = QDir::toNativeSeparators(path).toStdWString();
    std::wstring shortPath(MAX_PATH, L'\0');
    const DWORD length = GetShortPathNameW(wide.c_str(), shortPath.data(), MAX_PATH);
    return length > 0 && length < MAX_PATH ? QString::fromWCharArray(shortPath.data(), int(length))
                                           : path;
}

// The password libpq's password file gives this connection: lines
// "host:port:database:user:password", '*' matching anything, '\\' escaping.
QString passwordFor(const QString &file, const Parameters &connection)
{
    QFile passwords(file);
    if (!passwords.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QStringList wanted{
        connection.value(QStringLiteral("host"), QStringLiteral("localhost")),
        connection.value(QStringLiteral("port"), QStringLiteral("5432")),
        connection.value(QStringLiteral("dbname"), connection.value(QStringLiteral("user"))),
        connection.value(QStringLiteral("user"))};
    while (!passwords.atEnd()) {
        const QString line = QString::fromUtf8(passwords.readLine()).trimmed();
        QStringList fields{QString()};
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == u'\\' && i + 1 < line.size())
                fields.last() += line[++i];
            else if (line[i] == u':' && fields.size() < 5)
                fields << QString();
            else
                fields.last() += line[i];
        }
        if (line.startsWith(u'#') || fields.size() != 5)
            continue;
        bool matches = true;
        for (int i = 0; i < 4; ++i)
            matches = matches && (fields[i] == u"*" || fields[i] == wanted[i]);
        if (matches)
            return fields[4];
    }
    return {};
}

// libpq finds its service, password and certificates through the ANSI code
// page: an account whose name is outside it ("Łucja Şahin") would have no
// class. The program reads them itself, with Unicode paths, and gives libpq
// the parameters, and the certificates' short paths.
bool setUpFromFiles(QSqlDatabase &db, const QString &service, const QString &fixed)
{
    const QString own = qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/");
    std::optional<Parameters> parameters = findService(service);
    if (!parameters)
        return false;
    Parameters &p = *parameters;
    if (!p.contains(QStringLiteral("sslrootcert")) &&
        QFile::exists(own + QStringLiteral("root.crt")))
        p.insert(QStringLiteral("sslrootcert"), own + QStringLiteral("root.crt"));
    if (!p.contains(QStringLiteral("password")))
        p.insert(QStringLiteral("password"),
                 passwordFor(p.value(QStringLiteral("passfile"),
                                     qEnvironmentVariable("PGPASSFILE",
                                                          own + QStringLiteral("pgpass.conf"))),
                             p));
    db.setHostName(p.take(QStringLiteral("host")));
    const int port = p.take(QStringLiteral("port")).toInt();
    db.setPort(port > 0 ? port : -1);
    db.setUserName(p.take(QStringLiteral("user")));
    db.setDatabaseName(p.value(QStringLiteral("dbname"), db.userName()));
    db.setPassword(p.take(QStringLiteral("password")));
    for (const char *overridden :
         {"dbname", "passfile", "sslmode", "connect_timeout", "application_name", "service"})
        p.remove(QString::fromLatin1(overridden));
    QStringList options{fixed};
    for (const auto &[key, value] : p.asKeyValueRange()) {
        const bool file = QStringList{QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
                                      QStringLiteral("sslkey"), QStringLiteral("sslcrl")}
                              .contains(key);
        QString quoted = file ? ansiPath(value) : value;
        quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
        options << key + QStringLiteral("='") + quoted + u'\'';
    }
    db.setConnectOptions(options.join(u';'));
    return true;
}
#endif

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
    return findService(QString::fromLatin1(service)).has_value();
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
        // The service names the server, the database and the role; TLS is
        // checked whatever it says.
        const QString fixed =
            QStringLiteral("connect_timeout=2;sslmode=verify-full;application_name=additions");
#ifdef Q_OS_WIN
        if (!setUpFromFiles(m_db, m_service, fixed))
#endif
            m_db.setConnectOptions(QStringLiteral("service=%1;").arg(m_service) + fixed);
    }
    // open()'s own result: lastError() may still hold an earlier failure.
    if (!m_db.open()) {
        const QString libpq = m_db.lastError().text().trimmed();
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas pu être "
                                     "joint : %2.")
                          .arg(m_service, cause(libpq)),
                      libpq);
    }
    if (!m_versionAgreed && !agreeOnVersion())
        return false;
    m_problem.clear();
    m_details.clear();
    return true;
}

bool ClassConnection::agreeOnVersion()
{
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
    return true;
}
