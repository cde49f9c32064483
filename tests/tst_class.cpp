// SPDX-License-Identifier: GPL-3.0-or-later
#include "class_server_fixture.h"
#include "classroom/class_queries.h"
#include "classroom/class_sender.h"
#include "classroom/mastery.h"
#include "history/history_recorder.h"
#include "history/progress_queries.h"

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

// The class on a real PostgreSQL 15 of the test's own, on a Unix socket in a
// temporary folder, set up by the administrator's SQL file: two computers of
// two classes, a teacher for each. Each test starts from a server and
// computers with no answers.
class TestClass : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A child's mark at a level, from their last answers there.
    void masteryMarks_data()
    {
        QTest::addColumn<int>("answers");
        QTest::addColumn<int>("right");
        QTest::addColumn<QString>("mark");
        QTest::addRow("no answer") << 0 << 0 << u"pas commencé"_s;
        QTest::addRow("one wrong") << 1 << 0 << u"commencé"_s;
        QTest::newRow("69 in 100") << 100 << 69 << u"commencé"_s;
        QTest::newRow("7 in 10") << 10 << 7 << u"familier"_s;
        QTest::newRow("89 in 100") << 100 << 89 << u"familier"_s;
        QTest::newRow("18 of 20") << 20 << 18 << u"maîtrisé"_s;
        QTest::addRow("all of 19 right, too few") << 19 << 19 << u"familier"_s;
        QTest::addRow("all of 20 right") << 20 << 20 << u"maîtrisé"_s;
        QTest::newRow("17 of 20") << 20 << 17 << u"familier"_s;
    }

    void masteryMarks()
    {
        QFETCH(int, answers);
        QFETCH(int, right);
        QTEST(mastery({answers, right}), "mark");
    }

    void initTestCase()
    {
        if (ThrowawayClassServer::installed())
            m_server.setUp();
    }

    void init()
    {
        if (QByteArrayView(QTest::currentTestFunction()).startsWith("mastery"))
            return;
        if (!ThrowawayClassServer::installed())
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
        QVERIFY(
            m_server.psql(u"postgres"_s, u"additions"_s, u"DELETE FROM additions.answers"_s).ok);
        for (const QString &account : {u"poste1"_s, u"poste2"_s, u"prof_a"_s})
            QVERIFY(QDir(m_server.m_dir.filePath(account)).removeRecursively());
    }

    // Two computers answer; each answer is on the server once, sent again
    // or not.
    void everyAnswerOnce()
    {
        QVERIFY(m_server.answer(u"poste1"_s, 3).ok);
        QVERIFY(m_server.answer(u"poste2"_s, 2).ok);
        QCOMPARE(m_server.count(u"poste1"_s), 3);
        QCOMPARE(m_server.count(u"poste2"_s), 2);
        // The computer forgets it sent them: the server keeps them once.
        {
            QSqlDatabase local = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"local"_s);
            local.setDatabaseName(m_server.history(u"poste1"_s));
            QVERIFY(local.open());
            QVERIFY(QSqlQuery(local).exec(u"UPDATE answers SET sent = 0"_s));
        }
        QSqlDatabase::removeDatabase(u"local"_s);
        QVERIFY(m_server.answer(u"poste1"_s, 0).ok);
        QCOMPARE(m_server.count(u"poste1"_s), 3);
    }

    // A server stopped during play misses nothing once it is back.
    void stoppedServerMissesNothing()
    {
        QVERIFY(classfixture::asServer({classfixture::kBin + u"pg_ctl"_s, u"-D"_s, m_server.data(),
                                        u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s})
                    .ok);
        const ToolResult unsent = m_server.answer(u"poste2"_s, 2);
        QVERIFY(!unsent.ok);
        QVERIFY2(unsent.error.contains(u"n'a pas pu être joint"_s), qPrintable(unsent.error));
        QVERIFY(m_server.start());
        QVERIFY(m_server.answer(u"poste2"_s, 0).ok);
        QCOMPARE(m_server.count(u"poste2"_s), 2);
    }

    // Over the network, only TLS with the school's certificate authority.
    void overTheNetwork_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("refused");
        QTest::addRow("the school's authority") << u"school"_s << u"secret"_s << QString();
        QTest::addRow("another authority")
            << u"other"_s << u"secret"_s << u"certificate verify failed"_s;
        QTest::addRow("a wrong password")
            << u"school"_s << u"guess"_s << u"password authentication failed"_s;
    }

    void overTheNetwork()
    {
        QFETCH(QString, authority);
        QFETCH(QString, password);
        QFETCH(QString, refused);
        const ToolResult sent = m_server.answer(u"poste1"_s, 1, authority, password);
        QVERIFY2(sent.ok == refused.isEmpty() && sent.error.contains(refused),
                 qPrintable(sent.error));
        // Progrès says, in French, what waits and why.
        qputenv("PGSERVICEFILE", QFile::encodeName(m_server.m_dir.filePath(u"poste1.conf"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_server.m_dir.filePath(u"poste1"_s)));
        qputenv("PGPASSFILE", QFile::encodeName(m_server.m_dir.filePath(u"poste1.pgpass"_s)));
        ProgressQueries queries(outboxStatus());
        QSignalSpy loaded(&queries, &ProgressQueries::loaded);
        queries.load(1, u"1_joueur"_s, {});
        const QString status = loaded.takeFirst().at(0).value<ProgressView>().classStatus;
        QVERIFY2(refused.isEmpty()
                     ? status.isEmpty()
                     : status.contains(u"attendent d'être envoyées"_s) && status.contains(refused),
                 qPrintable(status));
    }

    // The game's own recorder: answers go to the server as they come, and
    // those a stopped server missed go at the next start.
    void theGamesRecorderSends()
    {
        qputenv("PGSERVICEFILE", QFile::encodeName(m_server.serviceFile(u"poste1"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_server.m_dir.filePath(u"poste1"_s)));
        const auto play = [](int answers) {
            HistoryRecorder recorder(ClassSender::ifConfigured());
            for (int i = 0; i < answers; ++i)
                recorder.record({u"2_joueur"_s, 50, u"1"_s, u"2"_s, u"3"_s, true, 1, u"1"_s, true});
        };
        play(2);
        QVERIFY(m_server.waitForCount(u"poste1"_s, 2));
        QVERIFY(classfixture::asServer({classfixture::kBin + u"pg_ctl"_s, u"-D"_s, m_server.data(),
                                        u"-w"_s, u"-m"_s, u"fast"_s, u"stop"_s})
                    .ok);
        play(1);
        QVERIFY(m_server.start());
        play(0);
        QVERIFY(m_server.waitForCount(u"poste1"_s, 3));
    }

    // A teacher sees their class only, mastery and carries included, and
    // each new answer within two seconds.
    void teachersViewFollowsTheClass()
    {
        QVERIFY(m_server.answer(u"poste1"_s, 3).ok);
        QVERIFY(m_server.answer(u"poste2"_s, 2).ok);
        QVERIFY(m_server.psql(u"poste1"_s, u"additions"_s, recordAs(u"2_joueur"_s, 3)).ok);
        const QString services = m_server.m_dir.filePath(u"prof_a.conf"_s);
        QFile file(services);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"[additions-enseignant]\nhost=%1\nport=%2\ndbname=additions\nuser=prof_a\n"_s
                       .arg(m_server.m_dir.path(), m_server.m_port)
                       .toUtf8());
        file.close();
        qputenv("PGSERVICEFILE", QFile::encodeName(services));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_server.m_dir.filePath(u"prof_a"_s)));
        ClassQueries queries;
        QSignalSpy loaded(&queries, &ClassQueries::loaded);
        const auto answers = [&] {
            const ClassView view = loaded.takeLast().at(0).value<ClassView>();
            int total = 0;
            for (const ClassChild &child : view.children)
                total += child.machine == u"poste1"_s ? child.total.answers : 1000;
            return view.problem.isEmpty() && view.carries.value(0).answers == total ? total : -1;
        };
        queries.load();
        QCOMPARE(answers(), 6);
        QVERIFY(m_server.answer(u"poste1"_s, 1).ok);
        QVERIFY(loaded.wait(2000));
        QCOMPARE(answers(), 7);

        // The teacher's name for a child, kept on the teacher's machine; the
        // class in a spreadsheet with it; a child's answers erased on
        // request, in the teacher's classes only.
        QSignalSpy done(&queries, &ClassQueries::done);
        queries.name({u"poste1"_s, u"1_joueur"_s}, u" Léa\r\n\u0007"_s);
        QCOMPARE(done.takeFirst().at(0).toString(), QString());
        QCOMPARE(loaded.takeLast().at(0).value<ClassView>().children.value(0).name, u"Léa"_s);
        const QString csv = m_server.m_dir.filePath(u"classe.csv"_s);
        queries.exportTo(QFile::encodeName(csv));
        QCOMPARE(done.takeFirst().at(0).toString(), QString());
        const QStringList rows = spreadsheetColumns(csv, {1, 2, 3});
        QCOMPARE(rows.size(), 8);
        QCOMPARE(rows.filter(u"poste1|"_s).size(), 7);
        QVERIFY(rows.filter(u"poste1|1_joueur|Léa"_s).size() > 0);
        QCOMPARE(rows.filter(u"poste1|1_joueur|Léa"_s), rows.filter(u"poste1|1_joueur|"_s));
        queries.erase({u"poste2"_s, u"1_joueur"_s});
        QVERIFY(done.takeFirst().at(0).toString().contains(u"pas dans vos classes"_s));
        QCOMPARE(m_server.count(u"poste2"_s), 2);
        queries.name({u"poste1"_s, u"2_joueur"_s}, u"Tom"_s);
        queries.erase({u"poste1"_s, u"2_joueur"_s});
        QCOMPARE(done.takeLast().at(0).toString(), QString());
        QCOMPARE(answers(), 4);
        QVERIFY(!ChildNames(u"check"_s).all().contains({u"poste1"_s, u"2_joueur"_s}));
        // An erasure made elsewhere is heard too.
        QVERIFY(m_server
                    .psql(u"prof_a"_s, u"additions"_s,
                          u"DELETE FROM additions.answers WHERE player = '3_joueur'"_s)
                    .ok);
        QVERIFY(loaded.wait(2000));
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
        QTest::addRow("a computer reads the totals")
            << u"poste1"_s << u"SELECT * FROM additions.totals"_s << false;
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
            << u"poste1"_s << recordAs(u"9_joueur"_s, 1) << true;
        QTest::addRow("a teacher reads their class")
            << u"prof_a"_s
            << u"SELECT 1 / (COUNT(*) = 2 AND MIN(machine) = 'poste1')::int FROM "
               "additions.answers"_s
            << true;
        QTest::addRow("a teacher reads their class's totals")
            << u"prof_a"_s
            << u"SELECT 1 / (SUM(answers) = 2 AND MIN(machine) = 'poste1')::int FROM "
               "additions.totals"_s
            << true;
        QTest::addRow("a teacher cannot change the totals")
            << u"prof_a"_s << u"UPDATE additions.totals SET answers = 0"_s << false;
        QTest::addRow("a teacher erases in their class")
            << u"prof_a"_s << u"DELETE FROM additions.answers WHERE player = '9_joueur'"_s << true;
    }

    void rights()
    {
        QFETCH(QString, role);
        QFETCH(QString, sql);
        QFETCH(bool, allowed);
        QVERIFY(m_server.answer(u"poste1"_s, 2).ok);
        QVERIFY(m_server.answer(u"poste2"_s, 3).ok);
        const ToolResult run = m_server.psql(role, u"additions"_s, sql);
        QVERIFY2(run.ok == allowed, qPrintable(run.error));
        if (!allowed)
            QVERIFY2(run.error.contains(u"permission denied"_s), qPrintable(run.error));
    }

    // What a computer sends is what the game sends: a player's key, and no
    // answer from the future.
    void forgedAnswers()
    {
        const ToolResult forged = m_server.psql(
            u"poste1"_s, u"additions"_s,
            u"SELECT additions.record_answer(gen_random_uuid(), '=HYPERLINK(\"x\")', 50, '1', "
            "'1', '2', true, 1, '1', true, now())"_s);
        QVERIFY2(forged.error.contains(u"not a player key"_s), qPrintable(forged.error));
        QVERIFY(m_server
                    .psql(u"poste1"_s, u"additions"_s,
                          u"SELECT additions.record_answer(gen_random_uuid(), '8_joueur', 50, '1', "
                          "'1', '2', true, 1, '1', true, now() + interval '10 years')"_s)
                    .ok);
        QVERIFY(m_server
                    .psql(u"postgres"_s, u"additions"_s,
                          u"SELECT 1 / (MAX(answered_at) <= now())::int FROM additions.answers "
                          "WHERE player = '8_joueur'"_s)
                    .ok);
    }

private:
    // A computer's role records `count` answers of `player` by hand.
    static QString recordAs(const QString &player, int count)
    {
        return u"SELECT additions.record_answer(gen_random_uuid(), '%1', 50, '1', '1', '2', true, "
               "1, '1', true, now()) FROM generate_series(1, %2)"_s.arg(player)
                   .arg(count);
    }

    ThrowawayClassServer m_server;
};

QTEST_GUILESS_MAIN(TestClass)
#include "tst_class.moc"
