// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"
#include "program_run.h"
#include "progress/class_queries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

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

} // namespace

// The class on a real PostgreSQL 15 of the test's own, on a Unix socket in a
// temporary folder, set up by the administrator's SQL file: two computers of
// two classes, a teacher for each.
class TestClass : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(kBin + u"initdb"_s))
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
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
        QVERIFY(psql(u"postgres"_s, u"postgres"_s, u"CREATE DATABASE additions"_s).ok);
        const ToolResult schema =
            runTool(kBin + u"psql"_s,
                    {u"-h"_s, m_dir.path(), u"-p"_s, m_port, u"-U"_s, u"postgres"_s, u"-d"_s,
                     u"additions"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-q"_s, u"-f"_s,
                     QStringLiteral(ADDITIONS_SOURCE_DIR) + u"/history/classe.sql"_s},
                    {}, 60000);
        QVERIFY2(schema.ok, qPrintable(schema.error));
        QVERIFY(psql(u"postgres"_s, u"additions"_s,
                     u"CREATE ROLE poste1 LOGIN IN ROLE additions_machine; "
                     "CREATE ROLE poste2 LOGIN IN ROLE additions_machine; "
                     "CREATE ROLE prof_a LOGIN IN ROLE additions_teacher; "
                     "INSERT INTO additions.classes VALUES ('A'), ('B'); "
                     "INSERT INTO additions.machines VALUES ('poste1', 'A'), ('poste2', 'B'); "
                     "INSERT INTO additions.teachers VALUES ('prof_a', 'A');"_s)
                    .ok);
    }

    void cleanupTestCase()
    {
        asServer({kBin + u"pg_ctl"_s, u"-D"_s, data(), u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s});
    }

    // Two computers answer; each answer is on the server once, sent again
    // or not.
    void everyAnswerOnce()
    {
        QVERIFY(answer(u"poste1"_s, 3).ok);
        QVERIFY(answer(u"poste2"_s, 2).ok);
        QCOMPARE(count(u"poste1"_s), 3);
        QCOMPARE(count(u"poste2"_s), 2);
        // The computer forgets it sent them: the server keeps them once.
        {
            QSqlDatabase local = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"local"_s);
            local.setDatabaseName(history(u"poste1"_s));
            QVERIFY(local.open());
            QVERIFY(QSqlQuery(local).exec(u"UPDATE answers SET sent = 0"_s));
        }
        QSqlDatabase::removeDatabase(u"local"_s);
        QVERIFY(answer(u"poste1"_s, 0).ok);
        QCOMPARE(count(u"poste1"_s), 3);
    }

    // A server stopped during play misses nothing once it is back.
    void stoppedServerMissesNothing()
    {
        QVERIFY(
            asServer({kBin + u"pg_ctl"_s, u"-D"_s, data(), u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s})
                .ok);
        const ToolResult unsent = answer(u"poste2"_s, 2);
        QVERIFY(!unsent.ok);
        QVERIFY2(unsent.error.contains(u"n'a pas pu être joint"_s), qPrintable(unsent.error));
        QVERIFY(start());
        QVERIFY(answer(u"poste2"_s, 0).ok);
        QCOMPARE(count(u"poste2"_s), 4);
    }

    // Over the network, only TLS with the school's certificate authority.
    void overTheNetwork_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<QString>("refused");
        QTest::addRow("the school's authority") << u"school"_s << QString();
        QTest::addRow("another authority") << u"other"_s << u"certificate verify failed"_s;
    }

    void overTheNetwork()
    {
        QFETCH(QString, authority);
        QFETCH(QString, refused);
        const ToolResult sent = answer(u"poste1"_s, 1, authority);
        QVERIFY2(sent.ok == refused.isEmpty() && sent.error.contains(refused),
                 qPrintable(sent.error));
    }

    // The game's own recorder: answers go to the server as they come, and
    // those a stopped server missed go at the next start.
    void theGamesRecorderSends()
    {
        qputenv("PGSERVICEFILE", QFile::encodeName(serviceFile(u"poste1"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(u"poste1"_s)));
        const auto play = [](int answers) {
            HistoryRecorder recorder;
            for (int i = 0; i < answers; ++i) {
                recorder.levelClicked(50);
                recorder.record({u"2_joueur"_s, 0, u"1"_s, u"2"_s, u"3"_s, true, 1, u"1"_s, true});
            }
        };
        play(2);
        QVERIFY(waitForCount(u"poste1"_s, 7));
        QVERIFY(
            asServer({kBin + u"pg_ctl"_s, u"-D"_s, data(), u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s})
                .ok);
        play(1);
        QVERIFY(start());
        play(0);
        QVERIFY(waitForCount(u"poste1"_s, 8));
    }

    // A teacher sees their class only, mastery and carries included, and
    // each new answer within two seconds.
    void teachersViewFollowsTheClass()
    {
        const QString services = m_dir.filePath(u"prof_a.conf"_s);
        QFile file(services);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"[additions-enseignant]\nhost=%1\nport=%2\ndbname=additions\nuser=prof_a\n"_s
                       .arg(m_dir.path(), m_port)
                       .toUtf8());
        file.close();
        qputenv("PGSERVICEFILE", QFile::encodeName(services));
        ClassQueries queries;
        QSignalSpy loaded(&queries, &ClassQueries::loaded);
        const auto answers = [&] {
            const ClassView view = loaded.takeLast().at(0).value<ClassView>();
            int total = 0;
            for (const ClassChild &child : view.children)
                total += child.machine == u"poste1"_s ? child.answers : 1000;
            return view.problem.isEmpty() && view.carries.value(0).answers == total ? total : -1;
        };
        queries.load();
        QCOMPARE(answers(), 8);
        QVERIFY(answer(u"poste1"_s, 1).ok);
        QVERIFY(loaded.wait(2000));
        QCOMPARE(answers(), 9);
        QCOMPARE(mastery(20, 18), u"maîtrisé"_s);
        QCOMPARE(mastery(19, 19), u"familier"_s);
        QCOMPARE(mastery(10, 6), u"commencé"_s);
    }

    // A computer records answers as itself, and does nothing else; a
    // teacher reads their own class only.
    void rights_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("allowed");
        QTest::addRow("a computer reads")
            << u"poste1"_s << u"SELECT * FROM additions.answers"_s << false;
        QTest::addRow("a computer changes")
            << u"poste1"_s << u"UPDATE additions.answers SET score_after = '99'"_s << false;
        QTest::addRow("a computer deletes")
            << u"poste1"_s << u"DELETE FROM additions.answers"_s << false;
        QTest::addRow("a computer inserts directly")
            << u"poste1"_s
            << u"INSERT INTO additions.answers VALUES (gen_random_uuid(), 'poste2', '1_joueur', "
               "50, '1', '1', '2', true, 1, '1', true, now())"_s
            << false;
        QTest::addRow("a computer records as itself")
            << u"poste1"_s
            << u"SELECT additions.record_answer(gen_random_uuid(), '9_joueur', 50, '1', '1', "
               "'2', true, 1, '1', true, now())"_s
            << true;
        QTest::addRow("a teacher reads their class")
            << u"prof_a"_s
            << u"SELECT 1 / (COUNT(*) = 10 AND MIN(machine) = 'poste1')::int FROM "
               "additions.answers"_s
            << true;
        QTest::addRow("a teacher erases in their class")
            << u"prof_a"_s << u"DELETE FROM additions.answers WHERE player = '9_joueur'"_s << true;
    }

    void rights()
    {
        QFETCH(QString, role);
        QFETCH(QString, sql);
        QFETCH(bool, allowed);
        const ToolResult run = psql(role, u"additions"_s, sql);
        QVERIFY2(run.ok == allowed, qPrintable(run.error));
        if (!allowed)
            QVERIFY2(run.error.contains(u"permission denied"_s), qPrintable(run.error));
    }

private:
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

    int count(const QString &machine)
    {
        const ToolResult counted =
            runTool(kBin + u"psql"_s,
                    {u"-h"_s, m_dir.path(), u"-p"_s, m_port, u"-U"_s, u"postgres"_s, u"-d"_s,
                     u"additions"_s, u"-At"_s, u"-c"_s,
                     u"SELECT COUNT(*) FROM additions.answers WHERE machine = '%1'"_s.arg(machine)},
                    {}, 30000);
        return counted.ok ? counted.output.trimmed().toInt() : -1;
    }

    bool waitForCount(const QString &machine, int expected)
    {
        for (int tries = 0; tries < 50 && count(machine) != expected; ++tries)
            QTest::qWait(100);
        return count(machine) == expected;
    }

    QString serviceFile(const QString &machine, const QString &overTls = QString())
    {
        const QString services = m_dir.filePath(machine + u".conf"_s);
        QFile file(services);
        if (file.open(QIODevice::WriteOnly))
            file.write(u"[additions]\nhost=%1\nport=%2\ndbname=additions\nuser=%3\n%4"_s
                           .arg(overTls.isEmpty() ? m_dir.path() : u"localhost"_s, m_port, machine,
                                overTls.isEmpty() ? QString()
                                                  : u"sslrootcert=%1\n"_s.arg(
                                                        m_dir.filePath(overTls + u".crt"_s)))
                           .toUtf8());
        return services;
    }

    QString history(const QString &machine) const
    {
        return m_dir.filePath(machine + u"/additions/history.sqlite"_s);
    }

    // A computer of the class answers `count` problems and sends what the
    // server lacks, through libpq's service as an administrator sets it up:
    // on the server's socket, or over TCP with TLS and a certificate
    // authority.
    ToolResult answer(const QString &machine, int count, const QString &overTls = QString())
    {
        QProcessEnvironment environment;
        environment.insert(u"PGSERVICEFILE"_s, serviceFile(machine, overTls));
        environment.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(machine));
        return runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s,
                       {u"1_joueur"_s, QString::number(count)}, environment, 30000);
    }

    QTemporaryDir m_dir;
    QString m_port;
};

QTEST_GUILESS_MAIN(TestClass)
#include "tst_class.moc"
