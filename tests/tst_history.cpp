// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_database.h"
#include "history/history_recorder.h"
#include "program_run.h"
#include "progress/csv_export.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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
            recorder.levelClicked(answer.bound);
            recorder.record(answer);
        }
        HistoryDatabase history(u"test"_s);
        const QList<HistoryRow> rows = history.lastAnswers(answer.player, {}, 10);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].answer.answer, answer.answer);
        QVERIFY(rows[0].when.secsTo(QDateTime::currentDateTime()) < 60);
        const QList<LevelSummary> levels = history.levels(answer.player, {});
        QCOMPARE(levels.size(), 1);
        QCOMPARE(levels[0].right, answer.right ? 1 : 0);

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
            const QList<HistoryRow> last = history.lastAnswers(u"1_joueur"_s, {}, 1);
            QVERIFY(!last.isEmpty());
            // The last answer stored is the last one reported, or the one after.
            const int stored = last[0].answer.answer.toInt();
            QVERIFY2(stored - written.last().toInt() <= 1 && stored >= written.last().toInt(),
                     qPrintable(u"%1 stored, %2 reported"_s.arg(stored).arg(written.last())));
        }
    }

    // Two copies of the game answering at once: every answer of both is kept.
    void twoWritersAtOnceLoseNothing()
    {
        const QString probe = QCoreApplication::applicationDirPath() + u"/history_probe"_s;
        ProgramRun first(probe, {u"a"_s, u"400"_s});
        ProgramRun second(probe, {u"b"_s, u"400"_s});
        QVERIFY(first.succeeded());
        QVERIFY(second.succeeded());
        HistoryDatabase history(u"test"_s);
        for (const QString &player : {u"a"_s, u"b"_s})
            QCOMPARE(history.levels(player, {}).value(0).answers, 400);
    }

private:
    QTemporaryDir m_data;
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
