// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_connection.h"

#include "classroom/service_file.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <type_traits>

#ifdef Q_OS_WIN
#include <winsock2.h> // and windows.h, after it as Windows wants
#else
#include <poll.h>
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

// A connection string's value, quoted for libpq.
QString quotedValue(QString value)
{
    return u'\'' +
           value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'")) +
           u'\'';
}

// A service as libpq finds it, in its order: the user's file, then the
// system's.
std::optional<Parameters> findService(const QString &service)
{
    if (std::optional<Parameters> found = serviceSection(userServiceFile(), service))
        return found;
    return serviceSection(systemServiceFile(), service);
}

#ifdef Q_OS_WIN
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

#endif

// The service is read by the program itself, and only these of its keywords
// go to libpq, before the program's own options: libpq takes the last value
// given, and turns an old "requiressl" into an sslmode, so a service file
// could otherwise turn the certificate's check off. On Windows libpq would
// also read the files through the ANSI code page, and an account whose name
// is outside it ("Łucja Şahin") would have no class: the password and the
// certificates' paths are found here too, with Unicode paths.
bool setUpFromFiles(QSqlDatabase &db, const QString &service, const QString &fixed)
{
    std::optional<Parameters> parameters = findService(service);
    if (!parameters)
        return false;
    Parameters &p = *parameters;
#ifdef Q_OS_WIN
    const QString own = qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/");
    if (!p.contains(QStringLiteral("sslrootcert")) &&
        QFile::exists(own + QStringLiteral("root.crt")))
        p.insert(QStringLiteral("sslrootcert"), own + QStringLiteral("root.crt"));
    if (!p.contains(QStringLiteral("password")))
        p.insert(QStringLiteral("password"),
                 passwordFor(p.value(QStringLiteral("passfile"),
                                     qEnvironmentVariable("PGPASSFILE",
                                                          own + QStringLiteral("pgpass.conf"))),
                             p));
#endif
    db.setHostName(p.take(QStringLiteral("host")));
    const int port = p.take(QStringLiteral("port")).toInt();
    db.setPort(port > 0 ? port : -1);
    db.setUserName(p.take(QStringLiteral("user")));
    db.setDatabaseName(p.value(QStringLiteral("dbname"), db.userName()));
    db.setPassword(p.take(QStringLiteral("password")));
    QStringList options;
    for (const auto &[key, value] : p.asKeyValueRange()) {
        const bool file = QStringList{QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
                                      QStringLiteral("sslkey"), QStringLiteral("sslcrl"),
                                      QStringLiteral("passfile")}
                              .contains(key);
#ifdef Q_OS_WIN
        const QString path = file ? ansiPath(value) : value;
#else
        const QString &path = value;
#endif
        if (file || key == u"hostaddr" || key == u"target_session_attrs")
            options << key + u'=' + quotedValue(path);
    }
    db.setConnectOptions((options << fixed).join(u';'));
    return true;
}

constexpr int kConnectTimeoutMs = 2000;

// libpq's own calls, from the library the PostgreSQL driver loaded: a
// failed connection is asked again through them, to learn its SQLSTATE.
namespace pq {
using Connection = void;
// libpq-fe.h: PGRES_POLLING_FAILED .. PGRES_POLLING_OK, CONNECTION_OK,
// PQERRORS_SQLSTATE.
enum Polling { kFailed = 0, kReading = 1, kWriting = 2, kOk = 3 };
constexpr int kConnectionOk = 0;
constexpr int kErrorsSqlState = 3;

struct Library
{
    Connection *(*connectStart)(const char *conninfo) = nullptr;
    int (*setErrorVerbosity)(Connection *, int) = nullptr;
    int (*connectPoll)(Connection *) = nullptr;
    int (*socket)(const Connection *) = nullptr;
    int (*status)(const Connection *) = nullptr;
    int (*needsPassword)(const Connection *) = nullptr;
    char *(*errorMessage)(const Connection *) = nullptr;
    void (*finish)(Connection *) = nullptr;

    static const Library *get()
    {
        static const Library library = [] {
            Library found;
#ifdef Q_OS_WIN
            QLibrary pq(QStringLiteral("libpq"));
#else
            QLibrary pq(QStringLiteral("pq"), 5);
#endif
            const auto resolve = [&pq](auto &function, const char *name) {
                function =
                    reinterpret_cast<std::remove_reference_t<decltype(function)>>(pq.resolve(name));
            };
            resolve(found.connectStart, "PQconnectStart");
            resolve(found.setErrorVerbosity, "PQsetErrorVerbosity");
            resolve(found.connectPoll, "PQconnectPoll");
            resolve(found.socket, "PQsocket");
            resolve(found.status, "PQstatus");
            resolve(found.needsPassword, "PQconnectionNeedsPassword");
            resolve(found.errorMessage, "PQerrorMessage");
            resolve(found.finish, "PQfinish");
            return found;
        }();
        return library.connectStart && library.setErrorVerbosity && library.connectPoll &&
                       library.socket && library.status && library.needsPassword &&
                       library.errorMessage && library.finish
                   ? &library
                   : nullptr;
    }
};

// How a connection attempt ended, in terms that do not depend on a language.
struct Attempt
{
    bool connected = false;
    bool timedOut = false;
    bool needsPassword = false;
    QString sqlState; // what the server answered, if it did
};

// A connection tried as libpq makes it, for `deadline` at most, then closed.
std::optional<Attempt> attempt(const QByteArray &conninfo, std::chrono::milliseconds deadline)
{
    const Library *pq = Library::get();
    if (!pq)
        return std::nullopt;
    Connection *connection = pq->connectStart(conninfo.constData());
    if (!connection)
        return std::nullopt;
    // Messages then read "FATAL:  28P01", in any language.
    pq->setErrorVerbosity(connection, kErrorsSqlState);
    Attempt result;
    QDeadlineTimer timer(deadline);
    int polling = kWriting;
    while (polling != kOk && polling != kFailed && !result.timedOut) {
        const int socket = pq->socket(connection);
        if (socket < 0)
            break;
        pollfd wait{};
        wait.fd = static_cast<decltype(wait.fd)>(socket);
        wait.events = polling == kReading ? POLLIN : POLLOUT;
        const int waitMs = int(std::max<qint64>(timer.remainingTime(), 0));
#ifdef Q_OS_WIN
        const int ready = WSAPoll(&wait, 1, waitMs);
#else
        const int ready = ::poll(&wait, 1, waitMs);
#endif
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        if (ready == 0)
            result.timedOut = true;
        else
            polling = pq->connectPoll(connection);
    }
    result.connected = pq->status(connection) == kConnectionOk;
    result.needsPassword = pq->needsPassword(connection) != 0;
    const QRegularExpression state(QStringLiteral(":  ([0-9A-Z]{5})\\s*$"),
                                   QRegularExpression::MultilineOption);
    result.sqlState = state.match(QString::fromUtf8(pq->errorMessage(connection))).captured(1);
    pq->finish(connection);
    return result;
}
} // namespace pq

// Why a connection failed, in French, from what libpq and the server say in
// any language: the server's SQLSTATE, the connection's status, and whether
// the same server is reached when its certificate is not checked (without a
// password, which an impostor would then receive). libpq's own words go
// behind "Détails".
// A connection's parameters as libpq takes them, its password or not.
QString conninfo(const QSqlDatabase &db, bool withPassword)
{
    QStringList parameters{db.connectOptions().split(u';', Qt::SkipEmptyParts)};
    const auto add = [&parameters](const char *key, const QString &value) {
        if (!value.isEmpty())
            parameters << QString::fromLatin1(key) + u'=' + quotedValue(value);
    };
    add("host", db.hostName());
    add("port", db.port() > 0 ? QString::number(db.port()) : QString());
    add("dbname", db.databaseName());
    add("user", db.userName());
    if (withPassword)
        add("password", db.password());
    return parameters.join(u' ');
}

QString cause(const QSqlDatabase &db, bool teacher)
{
    const QString common = conninfo(db, false);
    const std::optional<pq::Attempt> checked =
        pq::attempt(conninfo(db, true).toUtf8(), std::chrono::milliseconds(kConnectTimeoutMs));
    const QString password = teacher ? QStringLiteral("votre mot de passe d'enseignant")
                                     : QStringLiteral("le mot de passe de cet ordinateur");
    const QString unknown = teacher ? QStringLiteral("vous") : QStringLiteral("cet ordinateur");
    if (checked) {
        const QString &state = checked->sqlState;
        if (state == u"28P01")
            return QStringLiteral("le serveur a refusé %1 (fichier .pgpass ou pgpass.conf)")
                .arg(password);
        if (state == u"28000" || state == u"3D000")
            return QStringLiteral("le serveur ne connaît pas %1 : son administrateur doit "
                                  "l'ajouter")
                .arg(unknown);
        if (state == u"53300")
            return QStringLiteral("le serveur a trop de connexions ouvertes pour %1").arg(unknown);
        if (state.startsWith(u"57P"))
            return QStringLiteral("le serveur redémarre ou s'arrête");
        if (checked->needsPassword)
            return QStringLiteral("il manque %1 (fichier .pgpass ou pgpass.conf)").arg(password);
        // Taken when asked again: the first try met a server too busy to
        // answer in time (a whole school connecting at once).
        if (checked->timedOut || checked->connected)
            return QStringLiteral("le serveur n'a pas répondu à temps");
        const std::optional<pq::Attempt> unchecked = pq::attempt(
            (common + QStringLiteral(" sslmode=require sslrootcert=additions-none password='' "
                                     "passfile=additions-none"))
                .toUtf8(),
            std::chrono::milliseconds(kConnectTimeoutMs));
        if (unchecked &&
            (unchecked->connected || unchecked->needsPassword || !unchecked->sqlState.isEmpty()))
            return QStringLiteral("le certificat du serveur n'a pas été reconnu (certificat de "
                                  "l'autorité de l'école, nom du serveur)");
    }
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
            qputenv("OPENSSL_CONF", opensslSettingsFile().toLocal8Bit());
        return true;
    }();
    Q_UNUSED(confined);
#endif
}

} // namespace

QString ClassConnection::refusalState(const QSqlDatabase &db)
{
    const std::optional<pq::Attempt> again =
        pq::attempt(conninfo(db, true).toUtf8(), std::chrono::milliseconds(kConnectTimeoutMs));
    if (!again)
        return {};
    return again->connected ? QStringLiteral("00000") : again->sqlState;
}

std::atomic<int> ClassConnection::s_opened = 0;

bool ClassConnection::configured(const char *service)
{
    confineSettings();
    return findService(QString::fromLatin1(service)).has_value();
}

ClassConnection::ClassConnection(const char *service, const QString &connectionName,
                                 std::chrono::milliseconds statementLimit,
                                 std::chrono::seconds connectLimit)
    : m_service(QString::fromLatin1(service)),
      // Numbered: one abandoned at closing, or a view opened again, may
      // still hold its connection while another of its use opens.
      m_name(connectionName + u'-' + QString::number(++s_opened)), m_statementLimit(statementLimit),
      m_connectLimit(connectLimit)
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
        // checked whatever it says. A network that goes silent mid-statement
        // is given up within seconds, not the system's two hours.
        const QString fixed =
            QStringLiteral("connect_timeout=%1;").arg(m_connectLimit.count()) +
            QStringLiteral("sslmode=verify-full;gssencmode=disable;application_name=additions;"
                           "keepalives=1;"
                           "keepalives_idle=5;keepalives_interval=2;keepalives_count=3;tcp_user_"
                           "timeout=10000");
        if (!setUpFromFiles(m_db, m_service, fixed))
            m_db.setConnectOptions(QStringLiteral("service=%1;").arg(m_service) + fixed);
    }
    // open()'s own result: lastError() may still hold an earlier failure.
    QElapsedTimer opening;
    opening.start();
    if (!m_db.open()) {
        const QString libpq = m_db.lastError().text().trimmed();
        // Past the connection's own time limit, the server did not answer:
        // asking again would only wait as long.
        const QString why =
            opening.elapsed() >= std::chrono::milliseconds(m_connectLimit).count() - 100
                ? QStringLiteral("le serveur n'a pas répondu à temps")
                : cause(m_db, m_service == QLatin1StringView(kTeacher));
        return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas pu être "
                                     "joint : %2.")
                          .arg(m_service, why),
                      libpq);
    }
    if (m_statementLimit.count() > 0) {
        QSqlQuery limits(m_db);
        const qint64 ms = m_statementLimit.count();
        if (!limits.exec(QStringLiteral("SET statement_timeout = %1").arg(ms)) ||
            !limits.exec(QStringLiteral("SET lock_timeout = %1").arg(std::min<qint64>(ms, 3000))) ||
            !limits.exec(
                QStringLiteral("SET idle_in_transaction_session_timeout = %1").arg(3 * ms))) {
            const QString details = limits.lastError().text().trimmed();
            limits = QSqlQuery();
            return failed(QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas "
                                         "répondu.")
                              .arg(m_service),
                          details);
        }
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

QString serverRefusal(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    if (state == u"23514" || state == u"P0001") {
        // "ERROR:  message" (the severity in the server's language), then
        // context lines.
        QString text = error.databaseText().section(u'\n', 0, 0);
        const qsizetype message = text.indexOf(QStringLiteral(":  "));
        return (message < 0 ? text : text.mid(message + 3))
            .remove(QStringLiteral("(") + state + u')')
            .trimmed();
    }
    if (state == u"54000")
        return QStringLiteral("trop long pour le serveur de la classe");
    if (state == u"42501")
        return QStringLiteral("cet ordinateur n'a pas le droit d'envoyer des réponses : "
                              "l'administrateur du serveur doit l'ajouter à une classe");
    if (state.startsWith(u"22"))
        return QStringLiteral("une valeur que le serveur de la classe ne prend pas (code %1)")
            .arg(state);
    return QStringLiteral("refusée par le serveur de la classe (code %1)").arg(state);
}
