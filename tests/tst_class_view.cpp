// SPDX-License-Identifier: GPL-3.0-or-later
#include "class_server_fixture.h"
#include "classroom/class_queries.h"
#include "progress/class_tab.h"
#include "progress/notice_line.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using classfixture::kBin;

// A teacher's open view of the class, on a real PostgreSQL 15 of the test's
// own, through what a school's server goes through while it is open.
class TestClassView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!ThrowawayClassServer::installed())
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
        m_server.setUp();
        QFile services(m_server.m_dir.filePath(u"prof_a.conf"_s));
        QVERIFY(services.open(QIODevice::WriteOnly));
        services.write(
            u"[additions-enseignant]\nhost=%1\nport=%2\ndbname=additions\nuser=prof_a\n"_s
                .arg(m_server.m_dir.path(), m_server.m_port)
                .toUtf8());
        qputenv("PGSERVICEFILE", QFile::encodeName(services.fileName()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_server.m_dir.filePath(u"prof_a"_s)));
    }

    // From a server with no answers, and a teacher of class A only.
    void init()
    {
        QVERIFY(m_server
                    .psql(u"postgres"_s, u"additions"_s,
                          u"DELETE FROM additions.answers; DELETE FROM additions.teachers "
                          "WHERE class <> 'A'"_s)
                    .ok);
        for (const QString &account : {u"poste1"_s, u"poste2"_s, u"prof_a"_s})
            QVERIFY(QDir(m_server.m_dir.filePath(account)).removeRecursively());
    }

    // The view finds its way back by itself, within 10 s of the server,
    // with every answer given meanwhile and the chosen child's read with it.
    void followsTheServerBack_data()
    {
        QTest::addColumn<QString>("machine"); // answers once the server is back
        QTest::addRow("server restarted") << u"poste1"_s;
        QTest::addRow("database made again") << u"poste1"_s;
        QTest::addRow("class added to the teacher") << u"poste2"_s;
        QTest::addRow("table locked") << u"poste1"_s;
    }

    void followsTheServerBack()
    {
        QFETCH(QString, machine);
        QVERIFY(m_server.answer(u"poste1"_s, 2).ok);
        ClassQueries queries;
        QSignalSpy loaded(&queries, &ClassQueries::loaded);
        queries.load();
        const ClassView first = loaded.takeLast().at(0).value<ClassView>();
        QCOMPARE(total(first), 2);
        queries.loadChild({u"poste1"_s, u"1_joueur"_s});
        const QByteArrayView tag(QTest::currentDataTag());
        const QString held = u"FROM pg_locks WHERE relation = 'additions.children'::regclass"_s;
        if (tag == "server restarted") {
            QVERIFY(classfixture::asServer({kBin + u"pg_ctl"_s, u"-D"_s, m_server.data(), u"-l"_s,
                                            m_server.m_dir.filePath(u"log"_s), u"-w"_s, u"-m"_s,
                                            u"fast"_s, u"restart"_s})
                        .ok);
        } else if (tag == "database made again") {
            m_server.makeClassDatabase();
        } else if (tag == "class added to the teacher") {
            QVERIFY(m_server
                        .psql(u"postgres"_s, u"additions"_s,
                              u"SELECT additions.add_teacher('prof_a', 'B', 'secret')"_s)
                        .ok);
        } else { // a read waits for a lock only so long, and says the class is as last read
            ProgramRun locker(kBin + u"psql"_s,
                              {u"-h"_s, m_server.m_dir.path(), u"-p"_s, m_server.m_port, u"-U"_s,
                               u"postgres"_s, u"-d"_s, u"additions"_s, u"-c"_s,
                               u"BEGIN; LOCK additions.children; SELECT pg_sleep(60)"_s});
            QTRY_VERIFY(
                m_server.psql(u"postgres"_s, u"additions"_s, u"SELECT 1 / COUNT(*) "_s + held).ok);
            QElapsedTimer waited;
            waited.start();
            queries.load();
            const ClassView stale = loaded.takeLast().at(0).value<ClassView>();
            QVERIFY(waited.elapsed() < 10000 && !stale.problem.isEmpty());
            QVERIFY(stale.readAt == first.readAt && stale.awaySince.isValid() && total(stale) == 2);
            QVERIFY(m_server
                        .psql(u"postgres"_s, u"additions"_s,
                              u"SELECT pg_terminate_backend(pid) "_s + held)
                        .ok);
        }
        QVERIFY(m_server.answer(machine, 1).ok);
        const int onServer = m_server.count(u"poste1"_s) + m_server.count(u"poste2"_s);
        ClassView view;
        QVERIFY(QTest::qWaitFor(
            [&] {
                while (!loaded.isEmpty())
                    if (view = loaded.takeFirst().at(0).value<ClassView>();
                        view.problem.isEmpty() && total(view) == onServer)
                        return true;
                return false;
            },
            10000));
        QVERIFY(!view.awaySince.isValid() && view.readAt.secsTo(QDateTime::currentDateTime()) < 2);
        QVERIFY(view.chosen && view.chosen->chart.answers == view.children.value(0).total.answers &&
                view.chosen->chart.rows.size() == view.chosen->chart.answers);
    }

    // The tab says how fresh the class is, and keeps it while the server is
    // away.
    void saysHowFresh()
    {
        QVERIFY(m_server.answer(u"poste1"_s, 1).ok);
        ClassTab tab;
        const NoticeLine *status = nullptr; // no QObject of its own: findChild() cannot tell it
        for (const QWidget *child : tab.findChildren<QWidget *>())
            status = status ? status : dynamic_cast<const NoticeLine *>(child);
        const auto says = [&](const std::function<bool(const QString &)> &fits) {
            return QTest::qWaitFor(
                [&] {
                    for (const QTableView *grid : tab.findChildren<QTableView *>())
                        if (grid->accessibleName() == u"élèves de la classe"_s)
                            return grid->model()->rowCount() == 1 && fits(status->text());
                    return false;
                },
                12000);
        };
        const auto upToDate = [](const QString &text) {
            const QTime at = QTime::fromString(text, u"'à jour à 'HH:mm:ss"_s);
            return at.isValid() && at.secsTo(QTime::currentTime()) < 10;
        };
        QVERIFY(says(upToDate));
        const QDateTime stopped = QDateTime::currentDateTime();
        QVERIFY(m_server.stop());
        QVERIFY(says([&](const QString &text) {
            const QString away =
                u"Le serveur ne répond plus depuis %1 : voici les réponses reçues avant. "_s;
            return text.startsWith(away.arg(stopped.toString(u"HH:mm"))) ||
                   text.startsWith(away.arg(stopped.addSecs(60).toString(u"HH:mm")));
        }));
        QVERIFY(m_server.start());
        QVERIFY(says(upToDate));
    }

private:
    static int total(const ClassView &view)
    {
        int answers = 0;
        for (const ClassChild &child : view.children)
            answers += child.total.answers;
        return answers;
    }

    ThrowawayClassServer m_server;
};

QTEST_MAIN(TestClassView)
#include "tst_class_view.moc"
