// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_host.h"

#include "classroom/service_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

using namespace std::chrono_literals;

#include <climits>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// PostgreSQL's programs: Debian's; on Windows, installed with this one.
QString tool(const QString &name)
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + u"/postgresql/bin/"_s + name + u".exe"_s;
#else
    return u"/usr/lib/postgresql/15/bin/"_s + name;
#endif
}

// The system's openssl; on Windows, the one installed with PostgreSQL's.
QString opensslProgram()
{
#ifdef Q_OS_WIN
    return tool(u"openssl"_s);
#else
    return QStringLiteral("openssl");
#endif
}

// The environment of PostgreSQL's programs: none of the account's own
// PostgreSQL settings (a PGHOSTADDR would send the server's password
// elsewhere). On Windows they load libpq and OpenSSL from this program's
// folder, and OpenSSL's settings from there too.
QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys())
        if (name.startsWith(u"PG"_s))
            environment.remove(name);
#ifdef Q_OS_WIN
    environment.insert(u"PATH"_s, QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) +
                                      u';' + environment.value(u"PATH"_s));
    environment.insert(u"OPENSSL_CONF"_s, opensslSettingsFile());
#endif
    return environment;
}
#ifdef Q_OS_WIN
// Windows has no socket folder whose rights keep other accounts out: the
// program reaches its server over loopback, with TLS and a password kept in
// the class's folder, which only this account reads.
const QString kLoopback = QStringLiteral("127.0.0.1");
constexpr bool kUnixSockets = false;
#else
constexpr bool kUnixSockets = true;
#endif
// The teacher's role, which reaches the server through its socket only.
const QString kTeacher = QStringLiteral("enseignant");
// Letters and digits no one mistakes for another when read out or copied
// from a board: 26 of them, 12 to a code, 56 bits.
constexpr char kCodeAlphabet[] = "ACDEFGHJKMNPQRTUVWXY345679";
constexpr int kCodeLength = 12;
// The room's networks: private and link-local addresses, and this computer.
constexpr const char *kRoom[] = {"127.0.0.0/8",    "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
                                 "169.254.0.0/16", "::1/128",    "fc00::/7",      "fe80::/10"};

// The interface of the default IPv4 route with the lowest metric, from
// the kernel's table; none where there is no such route.
QString defaultRouteInterface()
{
    QFile routes(u"/proc/net/route"_s);
    if (!routes.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString found;
    qulonglong lowest = ULLONG_MAX;
    while (!routes.atEnd()) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        const QList<QByteArray> fields = routes.readLine().simplified().split(' ');
        if (fields.size() > 7 && fields[1] == "00000000" && fields[7] == "00000000" &&
            fields[6].toULongLong() < lowest) {
            lowest = fields[6].toULongLong();
            found = QString::fromLocal8Bit(fields[0]);
        }
    }
    return found;
}

// A text as an SQL literal.
QByteArray sqlText(QByteArray text)
{
    return '\'' + text.replace('\'', "''") + '\'';
}

// A code, or a password for the server's own roles where they log in over
// loopback (32 letters, 150 bits).
QByteArray randomText(int length)
{
    QByteArray text;
    for (int i = 0; i < length; ++i)
        text += kCodeAlphabet[QRandomGenerator::system()->bounded(int(sizeof kCodeAlphabet) - 1)];
    return text;
}

// All openssl needs to sign a class's certificates.
constexpr char kOpensslSettings[] = "[req]\ndistinguished_name = dn\n[dn]\n";

QByteArray resource(const QString &name)
{
    QFile file(u":/classroom/"_s + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

ClassHost::ClassHost(const QString &folder) : m_folder(folder) {}

QString ClassHost::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/additions/classe");
}

int ClassHost::accountsPort()
{
    // Accounts are numbered from 1000 on Debian; those of a school's
    // directory too, far higher.
#ifdef Q_OS_WIN
    return kPort + int(qHash(QDir::homePath(), 0) % 100);
#else
    return kPort + int(::geteuid() % 100);
#endif
}

QString ClassHost::serverHost() const
{
#ifdef Q_OS_WIN
    return kLoopback;
#else
    return socketFolder();
#endif
}

QString ClassHost::socketFolder() const
{
    // A socket's path has 107 bytes at most: a long home folder (an account
    // of a school's directory, "prenom.nom@ecole…") puts it in this
    // account's runtime folder instead, as private.
    if (QFile::encodeName(m_folder).size() + int(sizeof "/.s.PGSQL.65535") <= 107)
        return m_folder;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           u"/additions-classe"_s;
}

bool ClassHost::exists() const
{
    return QFile::exists(m_folder + QStringLiteral("/data/PG_VERSION"));
}

bool ClassHost::failed(const QString &sentence)
{
    m_problem = sentence;
    return false;
}

bool ClassHost::run(const QString &program, const QStringList &arguments, const QByteArray &input,
                    QByteArray *output)
{
    QProcess process;
    if (!prepare(process, program))
        return failed(QStringLiteral("Le fichier %1 de la classe manque ou est vide : la classe "
                                     "ne peut plus être administrée.")
                          .arg(QDir::toNativeSeparators(m_folder + u"/hote"_s)));
    process.start(ansiPath(program), arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ran = process.waitForFinished(120000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput().replace("\r\n", "\n"); // Windows' lines
    if (!ran)
        return failed(
            QStringLiteral("La classe de cet ordinateur (dossier %1) n'a pas pu être préparée ou "
                           "démarrée (%2 : %3).")
                .arg(QDir::toNativeSeparators(m_folder), QFileInfo(program).fileName(),
                     process.error() == QProcess::FailedToStart
                         ? QStringLiteral("programme introuvable")
                         : QString::fromUtf8(process.readAllStandardError())
                               .simplified()
                               .left(300)));
    return true;
}

bool ClassHost::prepare(QProcess &process, const QString &program) const
{
    // Every path the programs are given is relative to the class's folder:
    // Windows' programs read their arguments and settings through the ANSI
    // code page, which an account's name may be outside of ("Łucja").
    process.setWorkingDirectory(ansiPath(m_folder));
    QProcessEnvironment environment = toolEnvironment();
    environment.insert(u"PGCLIENTENCODING"_s, u"UTF8"_s);
    const QString name = QFileInfo(program).baseName();
    // The certificates need nothing of the system's openssl settings, which
    // Windows does not have; the server keeps the system's.
    if (name == u"openssl")
        environment.insert(u"OPENSSL_CONF"_s, u"openssl.cnf"_s);
    if (name == u"psql" && !kUnixSockets) {
        // Only to this computer's own server, its certificate checked: a
        // program that took the port first learns nothing.
        const QByteArray password = readOwnFile(u"hote"_s);
        if (password.isEmpty())
            return false;
        environment.insert(u"PGPASSWORD"_s, QString::fromLatin1(password));
        environment.insert(u"PGSSLMODE"_s, u"verify-full"_s);
        environment.insert(u"PGSSLROOTCERT"_s, u"ca.crt"_s);
        environment.insert(u"PGCONNECT_TIMEOUT"_s, u"5"_s);
    }
    process.setProcessEnvironment(environment);
    return true;
}

bool ClassHost::says(const QString &program, const QStringList &arguments) const
{
    // A no is no failure.
    QProcess check;
    if (!prepare(check, program))
        return false;
    check.setStandardOutputFile(QProcess::nullDevice());
    check.setStandardErrorFile(QProcess::nullDevice());
    check.start(ansiPath(program), arguments);
    return check.waitForFinished(30000) && check.exitStatus() == QProcess::NormalExit &&
           check.exitCode() == 0;
}

QByteArray ClassHost::readOwnFile(const QString &name) const
{
    QFile file(m_folder + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool ClassHost::writeOwnFile(const QString &name, const QByteArray &content)
{
    QSaveFile file(m_folder + u'/' + name);
    if (file.open(QIODevice::WriteOnly) &&
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) && file.write(content) >= 0 &&
        file.commit())
        return true;
    return failed(QStringLiteral("Le fichier %1 de la classe n'a pas pu être écrit.")
                      .arg(QDir::toNativeSeparators(file.fileName())));
}

QStringList ClassHost::psqlArguments(const QString &database) const
{
    // Never a password asked, nor the account's psqlrc read.
    return {u"-X"_s, u"-w"_s,
            u"-h"_s, serverHost(),
            u"-p"_s, QString::number(port()),
            u"-U"_s, u"additions_hote"_s,
            u"-d"_s, database};
}

bool ClassHost::psql(const QByteArray &input, QByteArray *output)
{
    return run(tool(u"psql"_s),
               psqlArguments(u"additions"_s) +
                   QStringList{u"-qAt"_s, u"-F"_s, u"\t"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s},
               input, output);
}

bool ClassHost::certify()
{
    // The names and addresses a computer of the room may type, as they are
    // today: a new address (another network, a lease renewed) is certified
    // at the next start.
    const QString host = QHostInfo::localHostName();
    QStringList names{u"DNS:localhost"_s, u"DNS:"_s + host, u"DNS:"_s + host + u".local"_s};
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        names << u"IP:"_s + address.toString().section(u'%', 0, 0);
    names << u"IP:127.0.0.1"_s << u"IP:::1"_s;
    names.removeDuplicates();
    if (!writeOwnFile(u"openssl.cnf"_s, kOpensslSettings))
        return false;
    const QString ec = QStringLiteral("ec_paramgen_curve:prime256v1");
    const QString openssl = opensslProgram();
    const bool made =
        run(openssl, {u"req"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, ec, u"-nodes"_s, u"-subj"_s,
                      u"/CN="_s + host, u"-addext"_s, u"subjectAltName="_s + names.join(u','),
                      u"-keyout"_s, u"server.key"_s, u"-out"_s, u"server.csr"_s}) &&
        run(openssl, {u"x509"_s, u"-req"_s, u"-in"_s, u"server.csr"_s, u"-CA"_s, u"ca.crt"_s,
                      u"-CAkey"_s, u"ca.key"_s, u"-CAcreateserial"_s, u"-days"_s, u"825"_s,
                      u"-copy_extensions"_s, u"copy"_s, u"-out"_s, u"server.crt"_s});
    QFile::setPermissions(m_folder + u"/server.key"_s, QFile::ReadOwner | QFile::WriteOwner);
    return made;
}

bool ClassHost::create(const QString &className)
{
    if (exists())
        return failed(QStringLiteral("Une classe est déjà ouverte sur cet ordinateur (dossier "
                                     "%1) : une autre n'est jamais faite par-dessus ses réponses.")
                          .arg(QDir::toNativeSeparators(m_folder)));
#ifdef Q_OS_WIN
    if (!QFile::exists(tool(u"initdb"_s)))
        return failed(QStringLiteral("Le serveur de la classe n'a pas été installé avec le "
                                     "programme (%1 manque) : installez Additions à nouveau.")
                          .arg(QDir::toNativeSeparators(tool(u"initdb"_s))));
#else
    if (::geteuid() == 0)
        return failed(QStringLiteral("Une classe ne s'ouvre pas depuis le compte root : ouvrez-la "
                                     "depuis le compte de l'enseignant."));
    if (!QFile::exists(tool(u"initdb"_s)))
        return failed(QStringLiteral("PostgreSQL 15 n'est pas installé sur cet ordinateur (paquet "
                                     "postgresql-15)."));
#endif
    if (className.size() > kLongestName)
        return failed(QStringLiteral("Le nom de la classe est trop long : %1 caractères au plus.")
                          .arg(kLongestName));
    // A folder left from a class whose server files are gone is a damaged
    // class: its authority and answers are never replaced.
    if (QFileInfo::exists(m_folder) && !QDir(m_folder).isEmpty())
        return failed(QStringLiteral("Le dossier de la classe %1 existe déjà, mais sa base est "
                                     "absente ou abîmée : une nouvelle classe n'est pas faite "
                                     "par-dessus. Déplacez ce dossier pour en ouvrir une.")
                          .arg(QDir::toNativeSeparators(m_folder)));
    if (!QDir().mkpath(m_folder) ||
        !QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return failed(QStringLiteral("Le dossier de la classe %1 n'a pas pu être créé.")
                          .arg(QDir::toNativeSeparators(m_folder)));
    if (makeClass(className))
        return true;
    // Nothing half made stays to be taken for a class; the cause is said.
    const QString why = m_problem;
    stop();
    QDir(m_folder).removeRecursively();
    return failed(why);
}

bool ClassHost::makeClass(const QString &className)
{
    const QString host = QHostInfo::localHostName();
    const QString openssl = opensslProgram();
#ifdef Q_OS_WIN
    // No socket folder to trust: the server's own role has a password too.
    const QStringList serverRole{u"--pwfile=hote"_s, u"--locale=C"_s};
#else
    const QStringList serverRole{u"--locale=C.UTF-8"_s};
#endif
    if (!writeOwnFile(u"openssl.cnf"_s, kOpensslSettings) ||
        (!kUnixSockets && !writeOwnFile(u"hote"_s, randomText(32))) ||
        !run(openssl, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"3650"_s,
                       u"-subj"_s, u"/CN=Additions, classe de "_s + host, u"-addext"_s,
                       u"basicConstraints=critical,CA:TRUE"_s, u"-addext"_s,
                       u"keyUsage=critical,keyCertSign,cRLSign"_s, u"-keyout"_s, u"ca.key"_s,
                       u"-out"_s, u"ca.crt"_s}))
        return false;
    QFile::setPermissions(m_folder + u"/ca.key"_s, QFile::ReadOwner | QFile::WriteOwner);
    if (!run(tool(u"initdb"_s),
             QStringList{u"-D"_s, u"data"_s, u"-U"_s, u"additions_hote"_s, u"--auth-local=trust"_s,
                         u"--auth-host=reject"_s, u"--data-checksums"_s, u"-E"_s, u"UTF8"_s,
                         u"--no-instructions"_s} +
                 serverRole))
        return false;
    const int first = accountsPort();
    for (int candidate = first; candidate < first + 20; ++candidate) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, quint16(candidate))) {
            if (!writeOwnFile(u"port"_s, QByteArray::number(candidate)))
                return false;
            break;
        }
    }
    // Only this account reaches the socket; the room, over TLS and with a
    // password, and from its private networks only.
    QFile settings(m_folder + u"/data/postgresql.conf"_s);
    QFile rules(m_folder + u"/data/pg_hba.conf"_s);
    // The teacher's role and the server's own take no connection from
    // another computer.
    QByteArray room = kUnixSockets
                          ? "local all all trust\n"
                          : "hostssl all additions_hote,enseignant 127.0.0.1/32 "
                            "scram-sha-256\n"
                            "hostssl all additions_hote,enseignant ::1/128 scram-sha-256\n";
    room += "host all additions_hote,enseignant all reject\n";
    for (const char *network : kRoom)
        room += QByteArray("hostssl additions additions_join,+additions_machine,"
                           "+additions_teacher ") +
                network + " scram-sha-256\n";
    const QByteArray socket =
        kUnixSockets ? socketFolder().toUtf8().replace('\'', "''") : QByteArray();
    if (!settings.open(QIODevice::Append) ||
        settings.write("listen_addresses = '*'\nport = " + QByteArray::number(port()) +
                       "\nunix_socket_directories = '" + socket +
                       "'\nunix_socket_permissions = 0700\nssl = on\n"
                       // Beside the data, whatever the folder's name.
                       "ssl_cert_file = '../server.crt'\nssl_key_file = '../server.key'\n"
                       "password_encryption = 'scram-sha-256'\n"
                       "shared_preload_libraries = 'auth_delay'\nauth_delay.milliseconds = 200\n"
                       "lc_messages = 'C'\ntemp_file_limit = '1GB'\nlogging_collector = on\n"
                       "log_destination = 'csvlog'\nlog_directory = 'journal'\n"
                       "log_filename = 'journal'\nlog_rotation_age = 0\n"
                       // A failing statement's text, as long as a sender
                       // makes it, is never copied to the teacher's disk;
                       // a connection that does not log in is dropped soon.
                       "log_min_error_statement = panic\nauthentication_timeout = '5s'\n") < 0 ||
        !rules.open(QIODevice::WriteOnly | QIODevice::Truncate) || rules.write(room) < 0)
        return failed(QStringLiteral("Les réglages de la classe (%1) n'ont pas pu être écrits.")
                          .arg(settings.fileName()));
    settings.close();
    rules.close();
    const QByteArray name = className.toUtf8();
    if (!start() ||
        !run(tool(u"psql"_s), psqlArguments(u"postgres"_s) +
                                  QStringList{u"-q"_s, u"-c"_s, u"CREATE DATABASE additions"_s}))
        return false;
    QFile authority(m_folder + u"/ca.crt"_s);
    if (!authority.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("Le certificat de la classe (%1) n'a pas pu être lu.")
                          .arg(authority.fileName()));
    ServiceValues teacher{{u"host"_s, serverHost()},
                          {u"port"_s, QString::number(port())},
                          {u"dbname"_s, u"additions"_s},
                          {u"user"_s, kTeacher}};
    const QByteArray password = kUnixSockets ? QByteArray() : randomText(32);
    // The teacher's password stays on this computer, in the class's
    // folder: the service file may roam with the account.
    if (!kUnixSockets &&
        !writeOwnFile(u"enseignant.pgpass"_s, "*:*:*:" + kTeacher.toUtf8() + ':' + password))
        return false;
    if (!kUnixSockets)
        teacher << std::pair{u"passfile"_s,
                             QDir::toNativeSeparators(m_folder + u"/enseignant.pgpass"_s)}
                << std::pair{u"sslrootcert"_s, QDir::toNativeSeparators(authority.fileName())};
    if (!psql(resource(u"classe.sql"_s) + resource(u"accueil.sql"_s) +
              "INSERT INTO additions.hosting VALUES (" + sqlText(name) + ", " +
              sqlText(authority.readAll()) + ");\nSELECT additions.add_teacher(" +
              sqlText(kTeacher.toUtf8()) + ", " + sqlText(name) +
              (kUnixSockets ? QByteArray() : ", " + sqlText(password)) + ");\n"))
        return false;
    return writeServiceSection(userServiceFile(), QStringLiteral("additions-enseignant"), teacher,
                               m_problem);
}

bool ClassHost::start()
{
    m_problem.clear();
    if (!exists())
        return failed(QStringLiteral("Aucune classe n'est ouverte sur cet ordinateur (dossier %1).")
                          .arg(QDir::toNativeSeparators(m_folder)));
    if (kUnixSockets) {
        QDir().mkpath(socketFolder());
        QFile::setPermissions(socketFolder(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A server killed, or one whose computer stopped short, leaves its lock
    // file and, a moment, its processes: it starts again once they are
    // gone, and recovers every answer from its log.
    QDeadlineTimer patience(60s);
    for (;;) {
        if ((serverRuns() ||
             (certify() && run(tool(u"pg_ctl"_s), {u"start"_s, u"-w"_s, u"-t"_s, u"60"_s, u"-l"_s,
                                                   u"server.log"_s, u"-D"_s, u"data"_s}))) &&
            reached())
            return true;
        if (patience.hasExpired()) {
            QFile log(m_folder + u"/server.log"_s);
            QByteArray last;
            if (log.open(QIODevice::ReadOnly | QIODevice::Text))
                for (const QByteArray &line : log.readAll().split('\n'))
                    if (line.contains("FATAL"))
                        last = line;
            // A failed start's own sentence names the folder already.
            const QString why =
                !last.isEmpty() || m_problem.isEmpty()
                    ? QStringLiteral("La classe de cet ordinateur n'a pas démarré en une minute "
                                     "(dossier %1) : %2")
                          .arg(QDir::toNativeSeparators(m_folder),
                               last.isEmpty() ? portTaken() : QString::fromUtf8(last.trimmed()))
                    : m_problem;
            // A server that runs without being reached (another program on
            // its port) is stopped, to take the port when it is free.
            if (last.isEmpty() && m_problem.isEmpty())
                stop();
            return failed(why);
        }
        QThread::msleep(500);
    }
}

QString ClassHost::portTaken() const
{
    return QStringLiteral("son port %1 répond, mais pas comme la classe : un autre programme l'a "
                          "peut-être pris (le port est écrit dans %2).")
        .arg(QString::number(port()), QDir::toNativeSeparators(m_folder + u"/port"_s));
}

bool ClassHost::serverRuns() const
{
    return says(tool(u"pg_ctl"_s), {u"status"_s, u"-D"_s, u"data"_s});
}

bool ClassHost::reached() const
{
    // Over loopback, its certificate checked: a program may have taken its
    // port on this computer's address.
    return kUnixSockets ? says(tool(u"pg_isready"_s),
                               {u"-q"_s, u"-h"_s, serverHost(), u"-p"_s, QString::number(port())})
                        : says(tool(u"psql"_s),
                               psqlArguments(u"postgres"_s) + QStringList{u"-c"_s, u"SELECT 1"_s});
}

bool ClassHost::running() const
{
    return serverRuns() && reached();
}

bool ClassHost::stop()
{
    return run(tool(u"pg_ctl"_s), {u"stop"_s, u"-D"_s, u"data"_s, u"-m"_s, u"fast"_s, u"-w"_s});
}

QString ClassHost::openJoining(std::chrono::minutes valid)
{
    const QString code = QString::fromLatin1(randomText(kCodeLength));
    const QString until =
        QDateTime::currentDateTimeUtc().addSecs(valid.count() * 60).toString(Qt::ISODate);
    // The code is never written to the server's log: no statement fails on it.
    if (!psql(QStringLiteral("ALTER ROLE additions_join PASSWORD '%1' VALID UNTIL '%2';\n")
                  .arg(code, until)
                  .toUtf8()))
        return {};
    // Wrong codes are counted from here on; the code is shown again as long
    // as it holds, from the teacher's own folder.
    const QString shown = code.left(4) + u'-' + code.mid(4, 4) + u'-' + code.mid(8);
    writeOwnFile(u"code-since"_s, QByteArray::number(QFileInfo(log()).size()));
    writeOwnFile(u"code"_s, (shown + u'\n' + until).toUtf8());
    return shown;
}

bool ClassHost::keepJoiningAsSet()
{
    // Whoever holds the code logs in as the joining role, and a role may
    // change its own password and settings: the teacher's are set again.
    const auto [shown, until] = joining();
    return psql("ALTER ROLE additions_join RESET ALL;\n" +
                (shown.isEmpty()
                     ? QByteArray("ALTER ROLE additions_join PASSWORD NULL;\n")
                     : QStringLiteral("ALTER ROLE additions_join PASSWORD '%1' VALID UNTIL '%2';\n")
                           .arg(QString(shown).remove(u'-'), until.toUTC().toString(Qt::ISODate))
                           .toUtf8()));
}

bool ClassHost::closeJoining()
{
    QFile::remove(m_folder + u"/code"_s);
    return psql("ALTER ROLE additions_join PASSWORD NULL;\n");
}

std::pair<QString, QDateTime> ClassHost::joining() const
{
    const QStringList lines = QString::fromUtf8(readOwnFile(u"code"_s)).split(u'\n');
    const QDateTime until = QDateTime::fromString(lines.value(1), Qt::ISODate);
    if (!until.isValid() || until < QDateTime::currentDateTimeUtc())
        return {};
    return {lines.value(0), until};
}

int ClassHost::port() const
{
    const int found = readOwnFile(u"port"_s).toInt();
    return found > 0 ? found : kPort;
}

QString ClassHost::address() const
{
    const QString port = this->port() == kPort ? QString() : u':' + QString::number(this->port());
    const QString local = QHostInfo::localHostName() + u".local"_s;
    const QList<QHostAddress> mine = QNetworkInterface::allAddresses();
    for (const QHostAddress &found : QHostInfo::fromName(local).addresses())
        if (mine.contains(found) && !found.isLoopback())
            return local + port;
    QList<std::pair<QString, QString>> addresses;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        if (interface.flags().testFlag(QNetworkInterface::IsUp))
            for (const QNetworkAddressEntry &entry : interface.addressEntries())
                addresses.append({interface.name(), entry.ip().toString()});
    const QString room = roomAddress(addresses, defaultRouteInterface());
    return (room.isEmpty() ? QHostInfo::localHostName() : room) + port;
}

QString ClassHost::roomAddress(const QList<std::pair<QString, QString>> &addresses,
                               const QString &routeInterface)
{
    QString first;
    for (const auto &[interface, text] : addresses) {
        const QHostAddress address(text);
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
            continue;
        if (interface == routeInterface)
            return address.toString();
        if (first.isEmpty())
            first = address.toString();
    }
    return first;
}

QString ClassHost::log() const
{
    return m_folder + u"/data/journal/journal.csv"_s;
}

int ClassHost::wrongCodes() const
{
    QFile mark(m_folder + u"/code-since"_s), journal(log());
    if (!mark.open(QIODevice::ReadOnly) || !journal.open(QIODevice::ReadOnly))
        return 0;
    journal.seek(mark.readAll().toLongLong());
    // One record per refusal: its user the second field, its SQLSTATE the
    // thirteenth; a quoted field may hold commas, quotes doubled, newlines.
    int wrong = 0;
    QByteArrayList fields{{}};
    bool quoted = false;
    const QByteArray text = journal.readAll();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            fields.last() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (quoted || (c != ',' && c != '\n'))
            fields.last() += c;
        else if (c == ',')
            fields << QByteArray();
        else {
            wrong += fields.size() > 12 && fields[1] == "additions_join" && fields[12] == "28P01";
            fields = {{}};
        }
    }
    return wrong;
}

QList<ClassHost::Computer> ClassHost::computers()
{
    QByteArray rows;
    if (!psql("SELECT m.role, (extract(epoch FROM max(c.last_at)) * 1000)::bigint FROM "
              "additions.machines m LEFT JOIN additions.children c ON c.machine = m.role "
              "WHERE m.role IN (SELECT rolname FROM pg_roles) GROUP BY m.role ORDER BY 1;\n",
              &rows))
        return {};
    QList<Computer> computers;
    for (const QByteArray &row : rows.split('\n')) {
        const QByteArrayList fields = row.split('\t');
        if (fields.size() == 2)
            computers.append({QString::fromUtf8(fields[0]),
                              fields[1].isEmpty()
                                  ? QDateTime()
                                  : QDateTime::fromMSecsSinceEpoch(fields[1].toLongLong())});
    }
    return computers;
}

bool ClassHost::remove(const QString &role)
{
    const QByteArray name = sqlText(role.toUtf8());
    return psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = " + name +
                ";\nSELECT format('DROP OWNED BY %1$I; DROP ROLE %1$I', " + name + ") \\gexec\n");
}
