// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_host.h"
#include "classroom/class_join.h"
#include "classroom/class_queries.h"
#include "program_run.h"
#include "progress/class_room.h"
#include "progress/join_dialog.h"
#include "progress/progress_window.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <optional>
#include <tuple>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// A class a teacher opens on their own computer, and the room's computers
// joining it with the code read out, each through a real PostgreSQL 15
// that the class's program makes (as the teacher's account, never root).
class TestClassHost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(u"/usr/lib/postgresql/15/bin/initdb"_s))
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
        QVERIFY(m_dir.isValid());
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        as(u"teacher"_s);
        // A program on this account's port: the class takes the next.
        m_another.listen(QHostAddress::Any, quint16(ClassHost::accountsPort()));
    }

    void cleanupTestCase() { m_host.stop(); }

    // The address the teacher reads out, among a computer's networks.
    void theRoomsAddress_data()
    {
        QTest::addColumn<QStringList>("interfaces"); // "name address" each
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("shown");
        const QStringList bridgeFirst{u"lo 127.0.0.1"_s, u"docker0 172.17.0.1"_s, u"eth0 fe80::1"_s,
                                      u"eth0 192.168.1.20"_s};
        QTest::newRow("the default route's, not a bridge's")
            << bridgeFirst << u"eth0"_s << u"192.168.1.20"_s;
        QTest::newRow("no default route: the first") << bridgeFirst << QString() << u"172.17.0.1"_s;
        QTest::newRow("a route through IPv6 only: the first")
            << QStringList{u"wlan0 fe80::2"_s, u"eth0 10.0.0.5"_s} << u"wlan0"_s << u"10.0.0.5"_s;
        QTest::newRow("loopback only: none")
            << QStringList{u"lo 127.0.0.1"_s, u"lo ::1"_s} << u"lo"_s << QString();
    }
    void theRoomsAddress()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(QString, route);
        QFETCH(QString, shown);
        QList<std::pair<QString, QString>> addresses;
        for (const QString &interface : interfaces)
            addresses.append({interface.section(u' ', 0, 0), interface.section(u' ', 1)});
        QCOMPARE(ClassHost::roomAddress(addresses, route), shown);
    }

    // A class's folder whose server files are gone is never made again
    // over its authority and answers; a name too long makes nothing.
    void aDamagedClassIsNeverMadeAgain()
    {
        const QString folder = m_dir.filePath(u"damaged"_s);
        QVERIFY(QDir().mkpath(folder + u"/data"_s));
        ClassHost damaged(folder);
        QVERIFY(!damaged.create(u"CM2"_s));
        QVERIFY2(damaged.problem().contains(u"abîmée"_s), qPrintable(damaged.problem()));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {u"data"_s});
        ClassHost fresh(m_dir.filePath(u"fresh"_s));
        QVERIFY(!fresh.create(QString(ClassHost::kLongestName + 1, u'é')));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"fresh"_s)));
    }

    // Opened in one step, with a code to read out within seconds; the
    // room's computers join with it, however it is typed, and their
    // answers reach the teacher's grid.
    void aClassOpenedAndJoined()
    {
        // From Progrès's "Classe…" to the code on screen.
        QElapsedTimer opening;
        opening.start();
        std::optional<ProgressWindow> window(std::in_place);
        QPushButton *classButton = nullptr;
        for (QPushButton *button : window->findChildren<QPushButton *>())
            if (button->text() == u"Classe…")
                classButton = button;
        QVERIFY(classButton);
        const QString failed =
            typing({u"CM1 B"_s}, [&] { classButton->menu()->actions().value(0)->trigger(); });
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const QString code = m_host.joining().first;
        QVERIFY(code.contains(QRegularExpression(u"^[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4}$"_s)));
        QVERIFY(m_host.port() != ClassHost::accountsPort() || !m_another.isListening());
        auto *tabs = window->findChild<QTabWidget *>();
        QCOMPARE(tabs->tabText(tabs->currentIndex()), u"Salle"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            (std::ranges::any_of(
                tabs->currentWidget()->findChildren<QLabel *>(),
                [&](const QLabel *label) { return label->text().contains(code); })),
            10000);
        qInfo("From \"Ouvrir une classe\" to a code on screen: %lld ms", opening.elapsed());
        QVERIFY(!m_host.create(u"CM1 B"_s));
        QVERIFY(m_host.problem().contains(u"déjà"_s));
        // By the window's way, and by a school's deployment tool, each
        // computer by another of the teacher's addresses.
        const bool ipv6 = QNetworkInterface::allAddresses().contains(QHostAddress::LocalHostIPv6);
        const std::tuple<QString, QString, QString> computers[] = {
            {u"a"_s, code, u"127.0.0.1"_s},
            {u"b"_s, code.toLower().replace(u'-', u' '), u"localhost"_s},
            {u"c"_s, code, ipv6 ? u"[::1]"_s : u"127.0.0.1"_s}};
        int answers = 0;
        for (const auto &[computer, typed, address] : computers) {
            as(computer);
            QString problem;
            QElapsedTimer joining;
            joining.start();
            if (computer == u"c") {
                const ToolResult joined =
                    runTool(QCoreApplication::applicationDirPath() + u"/../additions-progres"_s,
                            {u"--rejoindre"_s, here(address), typed}, environment(computer), 30000);
                QVERIFY2(joined.ok && joined.output.contains("rejoint"), qPrintable(joined.error));
            } else if (computer == u"b") {
                QVERIFY2(joinByTheWindow(typed).contains(u"a rejoint"_s), qPrintable(problem));
            } else {
                QVERIFY2(joinClass(here(address), typed, problem), qPrintable(problem));
            }
            qInfo("A computer joined in %lld ms", joining.elapsed());
            QVERIFY(sendAnswers(computer, 2));
            answers += 2;
            QTRY_COMPARE_WITH_TIMEOUT(classAnswers(), answers, 2000);
        }
        // The teacher's program closed, a computer plays on; opened again,
        // its grid has those answers.
        window.reset();
        QVERIFY(sendAnswers(u"a"_s, 2));
        window.emplace();
        tabs = window->findChild<QTabWidget *>();
        QVERIFY(tabs->count() == 3 && tabs->tabText(1) == u"Classe"_s);
        QTRY_COMPARE_WITH_TIMEOUT(classAnswers(), 8, 2000);
        // The teacher's "Salle": the code to read out, and the computers.
        ClassRoom room;
        QTRY_COMPARE_WITH_TIMEOUT(room.findChild<QTableWidget *>()->rowCount(), 3, 10000);
        QVERIFY(!room.findChild<QTableWidget *>()->item(1, 1)->text().startsWith(u'—'));
        bool shown = false;
        for (const QLabel *label : room.findChildren<QLabel *>())
            shown = shown || label->text().contains(code);
        QVERIFY(shown);
    }

    // A code that is not the class's, or no longer is, lets nobody in.
    void aCodeThatIsNotTheClasss_data()
    {
        QTest::addColumn<int>("validMinutes");
        QTest::addColumn<QString>("then"); // what the teacher does after giving it
        QTest::addColumn<QString>("typed");
        QTest::addRow("a guess") << 60 << QString() << u"ACDE-FGHJ-KMNP"_s;
        QTest::addRow("a code gone by") << 0 << QString() << QString();
        QTest::addRow("the code before a new one") << 60 << u"new"_s << QString();
        QTest::addRow("a code the teacher closed") << 60 << u"close"_s << QString();
    }
    void aCodeThatIsNotTheClasss()
    {
        QFETCH(int, validMinutes);
        QFETCH(QString, then);
        QFETCH(QString, typed);
        const QString code = m_host.openJoining(std::chrono::minutes(validMinutes));
        QVERIFY(!code.isEmpty());
        if (then == u"new")
            QVERIFY(!m_host.openJoining(60min).isEmpty());
        if (then == u"close")
            QVERIFY(m_host.closeJoining());
        as(u"late"_s);
        QString problem;
        QVERIFY(!joinClass(here(), typed.isEmpty() ? code : typed, problem));
        QVERIFY2(problem.contains(u"plus valable"_s), qPrintable(problem));
        QVERIFY(!QFile::exists(m_dir.filePath(u"late.conf"_s)));
        if (then != u"close")
            QTRY_COMPARE(m_host.wrongCodes(), 1);
    }

    // A computer removed can no longer send; its answers stay.
    void aComputerRemoved()
    {
        QFile service(m_dir.filePath(u"c.conf"_s));
        QVERIFY(service.open(QIODevice::ReadOnly));
        const QString role =
            QString::fromUtf8(service.readAll()).section(u"user="_s, 1).section(u'\n', 0, 0);
        QVERIFY2(m_host.remove(role), qPrintable(m_host.problem()));
        QCOMPARE(m_host.computers().size(), 2);
        QVERIFY(!runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s,
                         {u"1_joueur"_s, u"1"_s}, environment(u"c"_s), 30000)
                     .ok);
        QCOMPARE(classAnswers(), 8);
    }

    // A machine in the middle, with a certificate of its own, can neither
    // join with the code nor learn it; a thousand guesses let nobody in,
    // and the class goes on meanwhile; the teacher sees them counted.
    void attacks()
    {
        const QString code = m_host.openJoining(60min);
        const QString proxyPort =
            QString::number(20000 + QRandomGenerator::global()->bounded(20000));
        QVERIFY(
            runTool(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-subj"_s,
                                   u"/CN=localhost"_s, u"-keyout"_s, m_dir.filePath(u"mitm.key"_s),
                                   u"-out"_s, m_dir.filePath(u"mitm.crt"_s)})
                .ok);
        QProcess proxy;
        proxy.start(u"python3"_s,
                    {QStringLiteral(ADDITIONS_SOURCE_DIR) + u"/tests/data/tls_proxy.py"_s,
                     proxyPort, QString::number(m_host.port()), m_dir.filePath(u"mitm.crt"_s),
                     m_dir.filePath(u"mitm.key"_s)});
        QVERIFY(proxy.waitForReadyRead(5000));
        as(u"middle"_s);
        QString problem;
        QVERIFY(!joinClass(u"localhost:"_s + proxyPort, code, problem));
        QVERIFY2(problem.contains(u"ne prouve pas"_s), qPrintable(problem));
        // An address that would add a line to the computer's service.
        QVERIFY(!joinClass(u"localhost\nsslmode=disable"_s, code, problem));
        QVERIFY2(problem.contains(u"n'est pas une adresse"_s), qPrintable(problem));
        proxy.kill();
        proxy.waitForFinished();
        // A thousand guesses, twenty at a time.
        const ToolResult guessed = runTool(
            u"sh"_s,
            {u"-c"_s,
             u"seq 1000 | xargs -P 20 -I{} env PGPASSWORD=ACDEFGHJKMNP PGCONNECT_TIMEOUT=10 "
             "%1psql \"host=localhost port=%2 user=additions_join dbname=additions "
             "sslmode=require gssencmode=disable\" -c '' 2>/dev/null; true"_s
                 .arg(u"/usr/lib/postgresql/15/bin/"_s)
                 .arg(m_host.port())},
            {}, 120000);
        QVERIFY2(guessed.ok, qPrintable(guessed.error));
        QVERIFY(runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s,
                        {u"1_joueur"_s, u"1"_s}, environment(u"a"_s), 30000)
                    .ok);
        QTRY_COMPARE_WITH_TIMEOUT(m_host.wrongCodes(), 1000, 10000);
        QCOMPARE(m_host.computers().size(), 2);
        // A computer's password makes nothing no limit bounds.
        const QString psql = u"/usr/lib/postgresql/15/bin/psql"_s;
        for (const QString &sql :
             {u"SELECT lo_from_bytea(0, 'x')"_s, u"CREATE TEMP TABLE t (x int)"_s})
            QVERIFY(!runTool(psql, {u"service=additions"_s, u"-c"_s, sql}, environment(u"a"_s)).ok);
        QProcessEnvironment withCode;
        withCode.insert(u"PGPASSWORD"_s, QString(code).remove(u'-'));
        const auto asTheJoiningRole = [&](const QString &sql) {
            return runTool(psql,
                           {u"host=localhost port=%1 user=additions_join dbname=additions "
                            "sslmode=require"_s.arg(m_host.port()),
                            u"-c"_s, sql},
                           withCode)
                .ok;
        };
        // A holder of the code gives the joining role a password and
        // settings of its own: the teacher's program sets them back.
        QVERIFY(
            asTheJoiningRole(u"ALTER ROLE additions_join SET default_transaction_read_only = on; "
                             "ALTER ROLE additions_join PASSWORD 'PRIS'"_s));
        QVERIFY2(m_host.keepJoiningAsSet(), qPrintable(m_host.problem()));
        as(u"d"_s);
        QVERIFY2(joinClass(here(), code, problem), qPrintable(problem));
        // A class filled with made-up computers: said in French alone, and a
        // computer removed makes room.
        QVERIFY(asTheJoiningRole(u"DO $$ BEGIN FOR i IN 1..200 LOOP BEGIN PERFORM "
                                 "additions.join_class('faux'); EXCEPTION WHEN check_violation "
                                 "THEN EXIT; END; END LOOP; END $$"_s));
        QVERIFY(!joinClass(here(), code, problem));
        QCOMPARE(problem.section(u'(', 1), u"la classe a déjà 100 ordinateurs)."_s);
        QVERIFY(m_host.remove(u"poste_faux"_s));
        QVERIFY2(joinClass(here(), code, problem), qPrintable(problem));
    }

    // The teacher's server killed: started again at login, it has every
    // answer, and takes the next.
    void killedAndStartedAgain()
    {
        QFile pid(m_dir.filePath(u"teacher/additions/classe/data/postmaster.pid"_s));
        QVERIFY(pid.open(QIODevice::ReadOnly));
        QVERIFY(::kill(pid.readLine().trimmed().toInt(), SIGKILL) == 0);
        // As at the teacher's next login.
        const ToolResult started =
            runTool(QCoreApplication::applicationDirPath() + u"/../additions-progres"_s,
                    {u"--demarrer-classe"_s}, environment(u"teacher"_s), 90000);
        QVERIFY2(started.ok, qPrintable(started.error));
        const ToolResult sent =
            runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s,
                    {u"1_joueur"_s, u"1"_s}, environment(u"b"_s), 30000);
        QVERIFY2(sent.ok, qPrintable(sent.error));
        QCOMPARE(classAnswers(), 10);
    }

    // A home folder as long as a school directory's names make it: the
    // server's socket would not fit in it.
    void aLongHomeFolder()
    {
        as(u"far"_s);
        ClassHost far(m_dir.filePath(
            u"marie-christine.dupont-lefebvre@ecole-jules-ferry.ac-versailles.fr/additions/classe"_s));
        QVERIFY2(far.create(u"CE1"_s), qPrintable(far.problem()));
        QVERIFY(far.running());
        QVERIFY(far.stop());
    }

private:
    // Every answer the teacher's grid counts.
    int classAnswers()
    {
        as(u"teacher"_s);
        ClassQueries queries;
        QSignalSpy loaded(&queries, &ClassQueries::loaded);
        queries.load();
        const ClassView view = loaded.takeFirst().at(0).value<ClassView>();
        int answers = view.problem.isEmpty() ? 0 : -1000;
        for (const ClassChild &child : view.children)
            answers += child.total.answers;
        return answers;
    }

    // An adult's way: "Rejoindre une classe…", the address and the code
    // typed, OK; what the program then says.
    // The class's address on this computer.
    // The teacher's computer, as a computer of the room types it.
    QString here(const QString &host = u"localhost"_s) const
    {
        return m_host.port() == ClassHost::kPort ? host : u"%1:%2"_s.arg(host).arg(m_host.port());
    }

    // Answers a computer's game records and sends.
    bool sendAnswers(const QString &computer, int answers)
    {
        return runTool(QCoreApplication::applicationDirPath() + u"/history_probe"_s,
                       {u"1_joueur"_s, QString::number(answers)}, environment(computer), 30000)
            .ok;
    }

    QString joinByTheWindow(const QString &code)
    {
        QWidget window;
        return typing({here(), code}, [&] { askAndJoinClass(&window); });
    }

    // Runs `action`, typing `texts` in the fields of the dialog it opens,
    // then OK; what a message box then says.
    static QString typing(const QStringList &texts, const std::function<void()> &action)
    {
        QString said;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                said = box->text();
                box->accept();
            } else if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                const QList<QLineEdit *> fields = dialog->findChildren<QLineEdit *>();
                for (qsizetype i = 0; i < fields.size(); ++i)
                    fields[i]->setText(texts.value(i));
                dialog->accept();
            }
        });
        answer.start(50);
        action();
        return said;
    }

    // What a computer's program finds: its service file and history.
    QProcessEnvironment environment(const QString &account)
    {
        QProcessEnvironment env;
        env.insert(u"PGSERVICEFILE"_s, m_dir.filePath(account + u".conf"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(account));
        return env;
    }
    void as(const QString &account)
    {
        const QProcessEnvironment env = environment(account);
        for (const QString &key : env.keys())
            qputenv(key.toLocal8Bit(), QFile::encodeName(env.value(key)));
    }

    QTemporaryDir m_dir;
    QTcpServer m_another;
    // Where the teacher's program keeps it.
    ClassHost m_host{m_dir.filePath(u"teacher/additions/classe"_s)};
};

QTEST_MAIN(TestClassHost)
#include "tst_class_host.moc"
