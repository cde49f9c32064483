// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/csv_export.h"
#include "history/history_database.h"
#include "history/history_recorder.h"
#include "history/progress_queries.h"
#include "program_run.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The child's account, when the test runs as root.
constexpr uid_t kChild = 65534;

bool isRoot()
{
    return ::geteuid() == 0;
}

QString built(const QString &program)
{
    return QCoreApplication::applicationDirPath() + u'/' + program;
}

// A program of the build as a child runs it, under umask 022, with its data
// in `data`: as the child's account when the test is root, unless `asRoot`
// (a parent's sudo keeping the child's environment). Its standard error is
// in the result's error when it fails.
ToolResult runAsChild(const QString &data, const QStringList &command, bool asRoot = false)
{
    QStringList arguments{u"-c"_s, u"umask 022; exec \"$@\""_s, u"sh"_s};
    if (isRoot() && !asRoot)
        arguments << u"setpriv"_s << u"--reuid=65534"_s << u"--regid=65534"_s
                  << u"--clear-groups"_s;
    QProcessEnvironment dataHome;
    dataHome.insert(u"XDG_DATA_HOME"_s, data);
    return runTool(u"sh"_s, arguments + command, dataHome, 30000);
}

// What Progrès reads of a player, from `since` on.
ProgressView progressOf(const QString &player, const QDateTime &since = {})
{
    ProgressQueries queries;
    QSignalSpy loaded(&queries, &ProgressQueries::loaded);
    queries.load(1, player, since);
    return loaded.value(0).value(0).value<ProgressView>();
}

// A home of the child's own, for the child's account to write in.
std::unique_ptr<QTemporaryDir> childsHome()
{
    auto home = std::make_unique<QTemporaryDir>();
    if (isRoot())
        (void)::chown(QFile::encodeName(home->path()).constData(), kChild, kChild);
    return home;
}

struct stat statusOf(const QString &path)
{
    struct stat status = {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status;
}

} // namespace

// The history in a real SQLite file of the test's own, written by the
// recorder's thread, read back, and exported as a spreadsheet reads it.
class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    }

    void answersAreKeptAndExported_data()
    {
        QTest::addColumn<AnswerRecord>("answer");
        QTest::addColumn<QString>("csv");
        QTest::addRow("right") << AnswerRecord{u"1_joueur"_s, 50,   u"4"_s, u"46"_s,
                                               u"50"_s,       true, 1,      u"1"_s}
                               << u"1_joueur|50|4|46|50|oui|1|1"_s;
        QTest::addRow("wrong") << AnswerRecord{u"1_joueur"_s, 200,   u"12"_s, u"30"_s,
                                               u"41"_s,       false, 2,       u"-1"_s}
                               << u"1_joueur|200|12|30|41|non|2|-1"_s;
        QTest::addRow("typed key and answer")
            << AnswerRecord{u"Zoé; \"la\""_s, 0, u"1"_s, u"1"_s, u"2,0"_s, false, 7, u"3"_s}
            << u"Zoé; \"la\"|0|1|1|2,0|non|7|3"_s;
    }

    void answersAreKeptAndExported()
    {
        QFETCH(AnswerRecord, answer);
        QFETCH(QString, csv);
        QFile::remove(HistoryDatabase::path());
        // Written by the time it goes.
        {
            HistoryRecorder recorder;
            recorder.record(answer);
        }
        HistoryDatabase history(u"test"_s);
        const ProgressView progress = progressOf(answer.player);
        QCOMPARE(progress.last.size(), 1);
        QCOMPARE(progress.last[0].answer.answer, answer.answer);
        QVERIFY(progress.last[0].when.secsTo(QDateTime::currentDateTime()) < 60);
        QCOMPARE(progress.levels.size(), 1);
        QCOMPARE(progress.levels.first().right, answer.right ? 1 : 0);

        // Read back as a spreadsheet would: UTF-8 with its mark, ';' between fields.
        const QString file = m_data.filePath(u"export.csv"_s);
        QCOMPARE(exportCsv(history, QFile::encodeName(file)), QString());
        const QStringList lines = spreadsheetColumns(file, {1, 2, 3, 4, 5, 6, 7, 8});
        QCOMPARE(lines.value(0),
                 u"joueur|niveau|premier nombre|second nombre|réponse|juste|mise|score"_s);
        QCOMPARE(lines.value(1), csv);
    }

    // A damaged file is set aside, never deleted, and a new one started.
    void damagedFileIsSetAside()
    {
        QFile damaged(HistoryDatabase::path());
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(8192, 'x'));
        damaged.close();
        HistoryDatabase history(u"test"_s);
        QVERIFY(history.isOpen());
        QVERIFY2(history.problem().isEmpty(), qPrintable(history.problem()));
        QCOMPARE(history.setAside().size(), 1);
        QVERIFY(history.insert({QDateTime::currentDateTime(),
                                {u"1_joueur"_s, 50, u"1"_s, u"2"_s, u"3"_s, true, 1, u"1"_s}}));
        QCOMPARE(QDir(m_data.filePath(u"additions"_s)).entryList({u"*.abime-*"_s}).size(), 1);
        // Said by the export, each time, until an adult dismisses it.
        const auto exportSays = [&] {
            const QString csv = m_data.filePath(u"export.csv"_s);
            ProgramRun run(built(u"../additions-progres"_s), {u"--exporter"_s, csv});
            return run.succeeded() ? QString::fromUtf8(run.process().readAllStandardError())
                                   : u"failed"_s;
        };
        QVERIFY(exportSays().contains(history.setAside().value(0).file));
        QVERIFY(history.dismissSetAside());
        QCOMPARE(exportSays(), QString());
    }

    // SQLite's transactions: a kill during a write loses at most that answer.
    void killedMidWriteLosesAtMostThatAnswer()
    {
        QFile::remove(HistoryDatabase::path());
        for (int kill = 0; kill < 10; ++kill) {
            ProgramRun writer(QCoreApplication::applicationDirPath() + u"/history_probe"_s, {});
            QVERIFY(writer.process().waitForReadyRead(10000));
            QTest::qSleep(20 + 7 * kill);
            writer.process().kill();
            QVERIFY(writer.process().waitForFinished());
            const QStringList written = writer.output().split(u'\n', Qt::SkipEmptyParts);
            HistoryDatabase history(u"test"_s);
            QVERIFY(history.problem().isEmpty());
            const QList<HistoryRow> last = progressOf(u"1_joueur"_s).last;
            QVERIFY(!last.isEmpty());
            // The last answer stored is the last one reported, or the one after.
            const int stored = last[0].answer.answer.toInt();
            QVERIFY2(stored - written.last().toInt() <= 1 && stored >= written.last().toInt(),
                     qPrintable(u"%1 stored, %2 reported"_s.arg(stored).arg(written.last())));
        }
    }

    // Two copies of the game answering at once (or the game's writer and
    // its sender), either of them making the history: every answer of both
    // is kept.
    void twoWritersAtOnceLoseNothing()
    {
        const QString probe = QCoreApplication::applicationDirPath() + u"/history_probe"_s;
        const auto restore =
            qScopeGuard([this] { qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path())); });
        for (int round = 0; round < 20; ++round) {
            qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.filePath(u"new%1"_s.arg(round))));
            ProgramRun first(probe, {u"a"_s, u"50"_s});
            ProgramRun second(probe, {u"b"_s, u"50"_s});
            QVERIFY(first.succeeded());
            QVERIFY2(second.succeeded(), qPrintable(second.failure()));
            for (const QString &player : {u"a"_s, u"b"_s})
                QCOMPARE(progressOf(player).levels.first().answers, 50);
        }
    }

    // Whatever the umask, and run as root with the child's environment, the
    // history's folders and files are the child's alone.
    void privateAndTheChilds_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addRow("the child") << false;
        QTest::addRow("root with the child's environment") << true;
    }

    void privateAndTheChilds()
    {
        QFETCH(bool, asRoot);
        if (asRoot && !isRoot())
            QSKIP("needs root");
        const auto home = childsHome();
        const QString data = home->filePath(u"data"_s),
                      file = data + u"/additions/history.sqlite"_s;
        const QStringList probe{built(u"history_probe"_s), u"1_joueur"_s, u"2"_s};
        QVERIFY(runAsChild(data, probe, asRoot).ok);
        // SQLite's companions exist while a connection is open: root's here.
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        HistoryDatabase open(u"test"_s);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
        QSqlQuery read(open.connection());
        QVERIFY(read.exec(u"SELECT COUNT(*) FROM answers"_s) && read.next());
        QCOMPARE(read.value(0).toInt(), 2);
        const ToolResult again = runAsChild(data, probe);
        QVERIFY2(again.ok, qPrintable(again.error));
        for (const auto &[path, mode] :
             {std::pair(data, 0700), std::pair(data + u"/additions"_s, 0700), std::pair(file, 0600),
              std::pair(file + u"-wal"_s, 0600), std::pair(file + u"-shm"_s, 0600)}) {
            const struct stat status = statusOf(path);
            QVERIFY2(int(status.st_mode & 0777) == mode, qPrintable(path));
            QVERIFY2(!isRoot() || status.st_uid == kChild, qPrintable(path));
        }
    }

    // Each failure an adult can mend is said in French, naming the file, and
    // writing goes on once it is mended; what the program left, it mends.
    void failuresAreSaidThenMended_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::addRow("read-only history") << u"chmod"_s << u"est en lecture seule"_s;
        QTest::addRow("read-only log left behind") << u"companion"_s << QString();
        QTest::addRow("another user's history") << u"chown"_s << u"appartient à l'utilisateur"_s;
    }

    void failuresAreSaidThenMended()
    {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        if (fault == u"chown"_s && !isRoot())
            QSKIP("needs root, to give the history to another user");
        const auto home = childsHome();
        const QString data = home->filePath(u"data"_s),
                      file = data + u"/additions/history.sqlite"_s;
        const QByteArray name = QFile::encodeName(file);
        const QStringList probe{built(u"history_probe"_s), u"1_joueur"_s, u"1"_s};
        QVERIFY(runAsChild(data, probe).ok);
        const uid_t child = isRoot() ? kChild : ::geteuid();
        if (fault == u"chmod"_s)
            QCOMPARE(::chmod(name.constData(), 0444), 0);
        if (fault == u"chown"_s)
            QCOMPARE(::chown(name.constData(), 0, 0), 0);
        if (fault == u"companion"_s) {
            QFile shm(file + u"-shm"_s);
            QVERIFY(shm.open(QIODevice::WriteOnly));
            QVERIFY(::fchmod(shm.handle(), 0444) == 0 && ::fchown(shm.handle(), child, child) == 0);
        }
        if (!said.isEmpty()) {
            const ToolResult refused = runAsChild(data, probe);
            QVERIFY(!refused.ok);
            QVERIFY2(refused.error.contains(said) && refused.error.contains(file),
                     qPrintable(refused.error));
            QVERIFY(::chmod(name.constData(), 0600) == 0 &&
                    ::chown(name.constData(), child, child) == 0);
        }
        const ToolResult mended = runAsChild(data, probe);
        QVERIFY2(mended.ok, qPrintable(mended.error));
    }

    // The export writes a new or a regular file only, under the name given
    // byte for byte; a missing name is told.
    void exportWritesWhereItShould_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addRow("the history itself") << u"history"_s << 1 << u"l'historique lui-même"_s;
        QTest::addRow("a named pipe") << u"fifo"_s << 1 << u"pas un fichier ordinaire"_s;
        QTest::addRow("a link planted in a shared folder")
            << u"planted"_s << 1 << u"autre utilisateur"_s;
        QTest::addRow("a name not in UTF-8") << u"caf\\351.csv"_s << 0 << QString();
        QTest::addRow("no name") << QString() << 2 << u"Utilisation"_s;
    }

    void exportWritesWhereItShould()
    {
        QFETCH(QString, target);
        QFETCH(int, status);
        QFETCH(QString, said);
        if (target == u"planted"_s && !isRoot())
            QSKIP("needs root, to plant another user's link");
        QTemporaryDir scratch;
        const QString data = scratch.filePath(u"data"_s);
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        QVERIFY(runAsChild(data, {built(u"history_probe"_s), u"1_joueur"_s, u"1"_s}, true).ok);
        const QString secret = scratch.filePath(u"secret"_s);
        if (target == u"history"_s)
            target = HistoryDatabase::path();
        if (target == u"fifo"_s)
            QCOMPARE(
                ::mkfifo(QFile::encodeName(target = scratch.filePath(target)).constData(), 0600),
                0);
        if (target == u"planted"_s) {
            const QByteArray shared = QFile::encodeName(scratch.filePath(u"shared"_s));
            QVERIFY(::mkdir(shared.constData(), 0700) == 0 &&
                    ::chmod(shared.constData(), 01777) == 0);
            QVERIFY(QFile(secret).open(QIODevice::WriteOnly));
            target = scratch.filePath(u"shared/evil.csv"_s);
            QVERIFY(QFile::link(secret, target));
            QCOMPARE(::lchown(QFile::encodeName(target).constData(), kChild, kChild), 0);
        }
        // The name as bytes: printf spells what a QString cannot.
        QProcess run;
        run.setWorkingDirectory(scratch.path());
        run.start(u"sh"_s, {u"-c"_s,
                            target.isNull() ? u"exec \"$0\" --exporter"_s
                                            : u"exec \"$0\" --exporter \"$(printf \"$1\")\""_s,
                            built(u"../additions-progres"_s), target});
        QVERIFY(run.waitForFinished(30000));
        const QString error = QString::fromUtf8(run.readAllStandardError());
        QCOMPARE(run.exitCode(), status);
        QVERIFY2(error.contains(said), qPrintable(error));
        QCOMPARE(progressOf(u"1_joueur"_s).last.size(), 1);
        QCOMPARE(QFileInfo(secret).size(), 0);
        const QByteArray notUtf8 = QFile::encodeName(scratch.path()) + "/caf\xe9.csv";
        QCOMPARE(::unlink(notUtf8.constData()) == 0, status == 0);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    }

    // Kept in UTC and listed in the order answered, whatever the clock did;
    // a history of the first version has its local times made UTC.
    void timesInUtcInTheOrderAnswered()
    {
        QFile::remove(HistoryDatabase::path());
        {
            HistoryDatabase history(u"test"_s);
            const QDateTime now = QDateTime::currentDateTimeUtc();
            const auto answered = [&](const QDateTime &when, const QString &answer) {
                return history.insert(
                    {when, {u"1_joueur"_s, 50, u"1"_s, u"1"_s, answer, true, 1, u"1"_s, true}});
            };
            for (int future = 0; future < 25; ++future)
                QVERIFY(answered(now.addDays(40), u"2"_s));
            QVERIFY(answered(now, u"newest"_s));
            const QList<HistoryRow> week = progressOf(u"1_joueur"_s, now.addDays(-7)).last;
            QCOMPARE(week.value(0).answer.answer, u"newest"_s);
            QCOMPARE(week.value(0).when, now);
        }
        QFile::remove(HistoryDatabase::path());
        {
            QSqlDatabase first = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"first"_s);
            first.setDatabaseName(HistoryDatabase::path());
            QVERIFY(first.open());
            QSqlQuery query(first);
            QVERIFY(query.exec(u"CREATE TABLE answers (answered_at TIMESTAMP, player, bound, "
                               "first_number, second_number, answer, is_right, stake, "
                               "score_after)"_s));
            QVERIFY(query.exec(u"INSERT INTO answers VALUES ('2026-07-14T10:30:00.000', "
                               "'1_joueur', 50, '1', '1', '2', 1, 1, '1')"_s));
        }
        QSqlDatabase::removeDatabase(u"first"_s);
        const QList<HistoryRow> kept = progressOf(u"1_joueur"_s).last;
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].when, QDateTime(QDate(2026, 7, 14), QTime(10, 30)).toUTC());
    }

    // The chart draws every answer of the period, or past a few hundred each
    // day's last: from the period's first day whatever the answers' number.
    void chartCoversThePeriod_data()
    {
        QTest::addColumn<int>("days"); // answered on each of the days before today
        QTest::addColumn<int>("perDay");
        QTest::addColumn<int>("period"); // the days looked at; 0: all
        QTest::addColumn<int>("rows");
        QTest::addRow("all of 1 020 over two months") << 60 << 17 << 0 << 60;
        QTest::addRow("the last 30 days of them") << 60 << 17 << 30 << 30;
        QTest::addRow("a few, each") << 10 << 30 << 0 << 300;
        QTest::addRow("many in a day, each") << 1 << 600 << 0 << 600;
    }
    void chartCoversThePeriod()
    {
        QFETCH(int, days);
        QFETCH(int, perDay);
        QFETCH(int, period);
        QFETCH(int, rows);
        QFile::remove(HistoryDatabase::path());
        const QDate today = QDate::currentDate();
        {
            HistoryDatabase history(u"chart"_s);
            QVERIFY(history.connection().transaction());
            for (int day = days; day > 0; --day)
                for (int i = 0; i < perDay; ++i)
                    QVERIFY(
                        history.insert({QDateTime(today.addDays(-day), QTime(10 + i / 60, i % 60)),
                                        {u"1_joueur"_s, 50, u"1"_s, u"1"_s, u"2"_s, true, 1,
                                         QString::number(day * 1000 + i), true}}));
            QVERIFY(history.connection().commit());
        }
        const ProgressView view =
            progressOf(u"1_joueur"_s, period ? today.addDays(-period).startOfDay() : QDateTime());
        const int first = period ? period : days;
        QCOMPARE(view.chart.answers, first * perDay);
        QCOMPARE(view.chart.rows.size(), rows);
        // Each day's last answer, or every one from the first.
        const int firstScore = first * 1000 + (rows < first * perDay ? perDay - 1 : 0);
        QCOMPARE(view.chart.rows.first().answer.scoreAfter, QString::number(firstScore));
        QCOMPARE(view.chart.rows.first().when.toLocalTime().date(), today.addDays(-first));
        QCOMPARE(view.chart.rows.last().answer.scoreAfter, QString::number(1000 + perDay - 1));
        QCOMPARE(view.last.size(), 20);
        QCOMPARE(view.last.first().answer.scoreAfter, view.chart.rows.last().answer.scoreAfter);
    }

private:
    QTemporaryDir m_data;
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
