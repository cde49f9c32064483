// SPDX-License-Identifier: GPL-3.0-or-later
// A class's PostgreSQL 15 server of the test's own: on a Unix socket in a
// temporary folder and on a loopback port with TLS only, set up by the
// administrator's SQL file with two computers of two classes and a teacher
// of the first, poste1's.
#pragma once

#include "program_run.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace classfixture {

using namespace Qt::StringLiterals;

const QString kBin = u"/usr/lib/postgresql/15/bin/"_s;

// As the server's own account when the test is root: PostgreSQL refuses
// to run as root.
QStringList unprivileged(const QStringList &command)
{
    return ::geteuid() == 0
               ? QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s} + command
               : command;
}

ToolResult asServer(const QStringList &command)
{
    return ::geteuid() == 0 ? runTool(u"setpriv"_s, unprivileged(command), {}, 60000)
                            : runTool(command.first(), command.mid(1), {}, 60000);
}

class ThrowawayClassServer
{
public:
    static bool installed() { return QFile::exists(kBin + u"initdb"_s); }

    // Made and started; where it cannot be, the calling test has failed
    // (QTest::currentTestFailed()).
    void setUp()
    {
        startBare();
        if (QTest::currentTestFailed())
            return;
        makeClassDatabase();
        // Over the network a password too: the first matching line of
        // pg_hba.conf wins, so it goes before initdb's own.
        QFile rules(data() + u"/pg_hba.conf"_s);
        QVERIFY(rules.open(QIODevice::ReadWrite));
        const QByteArray before = rules.readAll();
        rules.seek(0);
        rules.write("hostssl all all 127.0.0.1/32 scram-sha-256\n" + before);
        rules.close();
        QVERIFY(asServer({kBin + u"pg_ctl"_s, u"-D"_s, data(), u"reload"_s}).ok);
    }

    // The class database, made anew (as a new school year, or after a
    // mistake) with its two computers and its teacher.
    void makeClassDatabase()
    {
        QVERIFY(
            psql(u"postgres"_s, u"postgres"_s, u"DROP DATABASE IF EXISTS additions WITH (FORCE)"_s)
                .ok);
        QVERIFY(psql(u"postgres"_s, u"postgres"_s, u"CREATE DATABASE additions"_s).ok);
        const ToolResult schema = runFile(u"additions"_s, QStringLiteral(ADDITIONS_SOURCE_DIR) +
                                                              u"/classroom/classe.sql"_s);
        QVERIFY2(schema.ok, qPrintable(schema.error));
        QVERIFY(psql(u"postgres"_s, u"additions"_s,
                     u"SELECT additions.add_computer('poste1', 'A', 'secret'); "
                     "SELECT additions.add_computer('poste2', 'B', 'secret'); "
                     "SELECT additions.add_teacher('prof_a', 'A', 'secret');"_s)
                    .ok);
    }

    // Made and started with no database of its own.
    void startBare()
    {
        QVERIFY(m_dir.isValid());
        if (::geteuid() == 0)
            QCOMPARE(::chown(QFile::encodeName(m_dir.path()).constData(), 65534, 65534), 0);
        const ToolResult made = asServer({kBin + u"initdb"_s, u"-D"_s, data(), u"-U"_s,
                                          u"postgres"_s, u"-A"_s, u"trust"_s, u"--no-sync"_s});
        QVERIFY2(made.ok, qPrintable(made.error));
        QVERIFY(makeCertificates());
        // A port of its own: another server may listen on the usual one.
        for (int tries = 0; tries < 5; ++tries) {
            m_port = QString::number(20000 + QRandomGenerator::global()->bounded(40000));
            if (start())
                break;
            m_port.clear();
        }
        QVERIFY(!m_port.isEmpty());
    }

    ~ThrowawayClassServer() { stop(); }

    bool stop()
    {
        return asServer(
                   {kBin + u"pg_ctl"_s, u"-D"_s, data(), u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s})
            .ok;
    }

    QString data() const { return m_dir.filePath(u"data"_s); }

    // On its socket, and on a loopback port with TLS only.
    bool start()
    {
        return asServer({kBin + u"pg_ctl"_s, u"-D"_s, data(), u"-l"_s, m_dir.filePath(u"log"_s),
                         u"-w"_s, u"-o"_s,
                         u"-c listen_addresses=127.0.0.1 -p %1 -k %2 -c ssl=on "
                         "-c ssl_cert_file=%2/server.crt -c ssl_key_file=%2/server.key"_s.arg(
                             m_port, m_dir.path()),
                         u"start"_s})
            .ok;
    }

    // The school's certificate authority, another one, and the server's
    // certificate for localhost from the school's.
    bool makeCertificates()
    {
        const auto openssl = [&](const QString &arguments) {
            return runTool(u"openssl"_s, arguments.arg(m_dir.path()).split(u' '), {}, 30000).ok;
        };
        QFile names(m_dir.filePath(u"names"_s));
        if (!names.open(QIODevice::WriteOnly) || names.write("subjectAltName=DNS:localhost\n") < 0)
            return false;
        names.close();
        for (const QString &authority : {u"school"_s, u"other"_s})
            if (!openssl(u"req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=%2 -keyout "
                         "%1/%2.key -out %1/%2.crt"_s.arg(u"%1"_s, authority)))
                return false;
        const QByteArray key = QFile::encodeName(m_dir.filePath(u"server.key"_s));
        return openssl(u"req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout %1/server.key "
                       "-out %1/server.csr"_s) &&
               openssl(u"x509 -req -in %1/server.csr -CA %1/school.crt -CAkey %1/school.key "
                       "-CAcreateserial -days 2 -extfile %1/names -out %1/server.crt"_s) &&
               ::chmod(key.constData(), 0600) == 0 &&
               (::geteuid() != 0 || ::chown(key.constData(), 65534, 65534) == 0);
    }

    ToolResult psql(const QString &role, const QString &database, const QString &sql)
    {
        return runTool(kBin + u"psql"_s,
                       {u"-h"_s, m_dir.path(), u"-p"_s, m_port, u"-U"_s, role, u"-d"_s, database,
                        u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-q"_s, u"-c"_s, sql},
                       {}, 30000);
    }

    // An SQL file run by the superuser, stopping at its first error.
    ToolResult runFile(const QString &database, const QString &file)
    {
        return runTool(kBin + u"psql"_s,
                       {u"-h"_s, m_dir.path(), u"-p"_s, m_port, u"-U"_s, u"postgres"_s, u"-d"_s,
                        database, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-q"_s, u"-f"_s, file},
                       {}, 60000);
    }

    // A number the superuser reads; -1 when it cannot.
    int number(const QString &database, const QString &sql)
    {
        const ToolResult read = runTool(kBin + u"psql"_s,
                                        {u"-h"_s, m_dir.path(), u"-p"_s, m_port, u"-U"_s,
                                         u"postgres"_s, u"-d"_s, database, u"-At"_s, u"-c"_s, sql},
                                        {}, 30000);
        return read.ok ? read.output.trimmed().toInt() : -1;
    }

    int count(const QString &machine)
    {
        return number(
            u"additions"_s,
            u"SELECT COUNT(*) FROM additions.answers WHERE machine = '%1'"_s.arg(machine));
    }

    bool waitForCount(const QString &machine, int expected, int seconds = 15)
    {
        for (int tries = 0; tries < seconds * 10 && count(machine) != expected; ++tries)
            QTest::qWait(100);
        return count(machine) == expected;
    }

    // `overTls`: the authority the computer trusts, then after '|' lines
    // more of its service.
    QString serviceFile(const QString &machine, const QString &overTls = QString())
    {
        const QString services = m_dir.filePath(machine + u".conf"_s);
        const QString authority = overTls.section(u'|', 0, 0);
        QFile file(services);
        if (file.open(QIODevice::WriteOnly))
            file.write(u"[additions]\nhost=%1\nport=%2\ndbname=additions\nuser=%3\n%4%5\n"_s
                           .arg(overTls.isEmpty() ? m_dir.path() : u"localhost"_s, m_port, machine,
                                overTls.isEmpty() ? QString()
                                                  : u"sslrootcert=%1\n"_s.arg(
                                                        m_dir.filePath(authority + u".crt"_s)),
                                overTls.section(u'|', 1))
                           .toUtf8());
        return services;
    }

    // The computer's ~/.pgpass, 0600 as libpq wants it.
    QString passwordFile(const QString &machine, const QString &password)
    {
        const QString file = m_dir.filePath(machine + u".pgpass"_s);
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(u"localhost:%1:additions:%2:%3\n"_s.arg(m_port, machine, password).toUtf8());
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return file;
    }

    QString history(const QString &machine) const
    {
        return m_dir.filePath(machine + u"/additions/history.sqlite"_s);
    }

    // A computer of the class answers `count` problems and sends what the
    // server lacks, through libpq's service as an administrator sets it up:
    // on the server's socket, or over TCP with TLS and a certificate
    // authority.
    ToolResult answer(const QString &machine, int count, const QString &overTls = QString(),
                      const QString &password = u"secret"_s, const QStringList &more = {})
    {
        // `more`: the player, the answer typed, the clock.
        QStringList arguments{more.value(0, u"1_joueur"_s), QString::number(count)};
        if (!more.value(1).isEmpty())
            arguments << more.value(1);
        return runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s, arguments,
                       computer(machine, overTls, password, more.value(2)), 30000);
    }

    // What a computer's program finds: its service, password and history.
    QProcessEnvironment computer(const QString &machine, const QString &overTls = QString(),
                                 const QString &password = u"secret"_s,
                                 const QString &clock = QString())
    {
        QProcessEnvironment environment;
        // libfaketime's clock for the computer alone, "-2d" behind or "+2d"
        // ahead: its calendar clock only, as on a computer set wrong, whose
        // clock since start-up still runs true.
        if (!clock.isEmpty()) {
            environment.insert(u"LD_PRELOAD"_s,
                               u"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"_s);
            environment.insert(u"FAKETIME"_s, clock);
            environment.insert(u"DONT_FAKE_MONOTONIC"_s, u"1"_s);
        }
        environment.insert(u"PGSERVICEFILE"_s, serviceFile(machine, overTls));
        environment.insert(u"PGPASSFILE"_s, passwordFile(machine, password));
        environment.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(machine));
        return environment;
    }

    QTemporaryDir m_dir;
    QString m_port;
};

} // namespace classfixture

using classfixture::ThrowawayClassServer;
