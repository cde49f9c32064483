// SPDX-License-Identifier: GPL-3.0-or-later
#include "../class_server_fixture.h"
#include "../design.h"
#include "game_driver.h"
#include "quiz/tables.h"
#include "x_tools.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Screenshots give colours as 0xRRGGBB.
const QRgb kWhiteShown = GameDriver::shown(kWhite);
const QRgb kStakeGreenShown = GameDriver::shown(STAKE_GREEN);
const QRgb kBand1Shown = GameDriver::shown(kBands[0].colour);
// An empty spot of the window, where the window's own colour shows.
const QRect kFormPatch(640, 400, 12, 12);

QString stored(const QString &file, const QString &key)
{
    return QSettings(file, QSettings::IniFormat).value(u"Startup/"_s + key).toString();
}

} // namespace

// The built program on a real X server, driven from outside the process.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString missing = missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(u"these programs are missing: "_s + missing +
                             u" (./test installs them on Debian)"_s));
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
    }

    void designState()
    {
        GameDriver game(m_home->path());
        START_GAME(game);
        const QImage shot = game.screenshot();
        QCOMPARE(shot.size(), QSize(710, 514));
        QCOMPARE(GameDriver::commonColour(shot, patchOf("Text1")), kBannerBlue);
        QCOMPARE(GameDriver::commonColour(shot, kFormPatch), kWhiteShown);
        QCOMPARE(GameDriver::commonColour(shot, patchOf("Text7")), kWhiteShown);
        // Hidden controls leave the window's white; shown buttons have a face.
        QCOMPARE(GameDriver::commonColour(shot, patchOf("Command2")), kWhiteShown);
        QVERIFY(!hasInk(shot, design("Text8").pixels()));
        QVERIFY(GameDriver::commonColour(shot, patchOf("Command9")) != kWhiteShown);

        // The banner has the focus: once the window has the keyboard (a click
        // on an empty spot of it), what is typed goes there.
        game.clickAt(kFormPatch.center());
        game.type(u"Z"_s);
        QCOMPARE(game.read("Text1"), u"BIENVENUEZ"_s);
        QCOMPARE(game.read("Text6"), QString());
        QVERIFY2(!QFile::exists(game.storeFile()), "nothing is written before a click");

        // What a dock sees: the desktop entry's class, and an icon.
        const ToolResult identity = runTool(
            u"xprop"_s,
            {u"-id"_s, game.windowId(), u"-len"_s, u"64"_s, u"WM_CLASS"_s, u"_NET_WM_ICON"_s}, {});
        QVERIFY2(identity.output.contains(
                     "WM_CLASS(STRING) = \"additions\", \"fr.atelier_additions.Additions\""),
                 identity.output.constData());
        QVERIFY2(identity.output.contains("_NET_WM_ICON(CARDINAL) = "),
                 identity.output.constData());
    }

    void levelClickPosesAProblem()
    {
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command9");
        game.type(u"7"_s); // the answer box has the focus without a click
        QCOMPARE(game.read("Text4"), u"7"_s);
        for (const char *addend : {"Text2", "Text3"}) {
            const int value = game.read(addend).toInt();
            QVERIFY2(value >= 1 && value <= 50, addend);
        }
        QCOMPARE(game.read("Text6"), u"nothing"_s);
        QCOMPARE(game.read("Text7"), u"1"_s);
        QVERIFY(game.waitForColour("Text7", kStakeGreenShown));
        const QImage shot = game.screenshot();
        QVERIFY(GameDriver::commonColour(shot, patchOf("Command2")) != kWhiteShown);
        for (const char *level : {"Command9", "Command1", "Command10", "Command7", "Command15"})
            QVERIFY2(GameDriver::commonColour(shot, patchOf(level)) == kWhiteShown, level);
    }

    void rightThenWrongAnswer()
    {
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command5");
        QCOMPARE(game.answer(0), u"1"_s);
        QCOMPARE(stored(game.storeFile(), u"2_joueur"_s), u"1"_s);
        QVERIFY(game.waitForColour("Text7", kWhiteShown));
        QVERIFY2(waitForFormColour(game, kBand1Shown), "the window takes the colour of band 1");

        QCOMPARE(game.answer(1), u"0"_s);
        QCOMPARE(stored(game.storeFile(), u"2_joueur"_s), u"0"_s);
        QCOMPARE(game.read("Text7"), u"0"_s);
        // 0 is in no band: the colour stays.
        QCOMPARE(GameDriver::commonColour(game.screenshot(), kFormPatch), kBand1Shown);
    }

    // The game has no options: Qt's own work as in any Qt program, and
    // anything else is ignored.
    void argumentsStartTheGame_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addRow("Qt's style") << QStringList{u"-style"_s, u"fusion"_s};
        QTest::addRow("Qt's platform") << QStringList{u"-platform"_s, u"xcb"_s};
        QTest::addRow("a file name") << QStringList{u"notes.txt"_s};
        // The adults' options belong to additions-progres.
        QTest::addRow("--progres") << QStringList{u"--progres"_s};
        QTest::addRow("--exporter") << QStringList{u"--exporter"_s, u"x.csv"_s};
    }

    void argumentsStartTheGame()
    {
        QFETCH(QStringList, arguments);
        GameDriver game(m_home->path());
        game.setArguments(arguments);
        START_GAME(game);
        QCOMPARE(game.answer(0), u"1"_s);
    }

    void scoreSurvivesARestart()
    {
        {
            GameDriver game(m_home->path());
            START_GAME(game);
            QCOMPARE(game.answer(0), u"1"_s);
            QVERIFY2(game.close(), qPrintable(game.lastError()));
        }
        GameDriver again(m_home->path());
        START_GAME(again);
        again.click("Command10");
        QCOMPARE(again.read("Text6"), u"1"_s);
        QCOMPARE(GameDriver::commonColour(again.screenshot(), kFormPatch), kWhiteShown);
    }

    void playersResetAndInformation()
    {
        writeStore(u"[Startup]\n3_joueur=12\n"_s);
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command6");
        QCOMPARE(game.read("Text1"), u"3_joueur"_s);
        game.click("Command15");
        QCOMPARE(game.read("Text6"), u"12"_s);
        game.click("Command3");
        QCOMPARE(game.read("Text6"), u"0"_s);
        QCOMPARE(stored(game.storeFile(), u"3_joueur"_s), u"0"_s);
        QVERIFY2(game.waitForColour("Text7", kStakeGreenShown),
                 "the reset leaves the problem open");

        game.click("Command18");
        QVERIFY2(waitUntil([&] { return hasInk(game.screenshot(), design("Text8").pixels()); },
                           3000, 100),
                 "the information text shows");
        game.click("Command18");
        QVERIFY2(waitUntil([&] { return !hasInk(game.screenshot(), design("Text8").pixels()); },
                           3000, 100),
                 "the information text hides again");
    }

    void refusalsLeaveEverythingAsItWas()
    {
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command9");
        const QString first = game.read("Text2");
        game.click("Command2"); // no answer typed
        QVERIFY2(game.waitForMessage(true), "the child is told what to do");
        QVERIFY(game.closeMessage());
        QCOMPARE(game.read("Text5"), QString());
        QCOMPARE(game.read("Text2"), first);
        QCOMPARE(game.read("Text6"), u"nothing"_s);
        QVERIFY(GameDriver::commonColour(game.screenshot(), patchOf("Command2")) != kWhiteShown);
        QVERIFY(!QFile::exists(game.storeFile()));

        // No player key at all: the reset is refused too.
        game.click("Text1");
        game.keys(u"ctrl+a BackSpace"_s);
        game.click("Command3");
        QVERIFY(game.waitForMessage(true));
        QVERIFY(game.closeMessage());
        QCOMPARE(game.read("Text6"), u"nothing"_s);
        QVERIFY(!QFile::exists(game.storeFile()));
    }

    void garbageSettingsFile()
    {
        QByteArray garbage("\xff\xfe\x01garbage without equals\n=\n[[[\n");
        garbage += QByteArray(200000, 'x') + "\n\xc3\x28 invalid=\xe2\x82\n";
        garbage += "[Startup]\n1_joueur=21\n";
        writeStore(QString(), garbage);
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command4");
        game.click("Command9");
        QCOMPARE(game.read("Text6"), u"21"_s);
        QCOMPARE(game.answer(0, /*levelClicked=*/true), u"22"_s);
        QCOMPARE(stored(game.storeFile(), u"1_joueur"_s), u"22"_s);
        QVERIFY(game.isRunning());
    }

    // Three answers, in the history the adults' program exports while the
    // game still runs. Ctrl+P in the game opens nothing.
    void historyOfThreeAnswers()
    {
        GameDriver game(m_home->path());
        START_GAME(game);
        game.click("Command4");
        for (int error : {0, 1, 0})
            game.answer(error);
        game.keys(u"ctrl+p"_s);
        QTest::qWait(1000);
        QVERIFY(game.windowWithTitle(u"Additions : progrès"_s).isEmpty());
        const QString csv = m_home->filePath(u"history.csv"_s);
        QProcessEnvironment home;
        home.insert(u"HOME"_s, m_home->path());
        QVERIFY(waitUntil(
            [&] {
                return runTool(QStringLiteral(ADDITIONS_PROGRES_EXECUTABLE), {u"--exporter"_s, csv},
                               home)
                           .ok &&
                       spreadsheetColumns(csv, {1}).size() == 4;
            },
            5000));
        QCOMPARE(
            spreadsheetColumns(csv, {1, 2, 6, 8, 9}),
            QStringList({u"joueur|niveau|juste|score|score gardé"_s, u"1_joueur|50|oui|1|oui"_s,
                         u"1_joueur|50|non|0|oui"_s, u"1_joueur|50|oui|1|oui"_s}));
        QVERIFY(game.isRunning());
        QVERIFY(game.close());
    }

    // A game on a computer of a class: its answers reach the school's
    // server as the child plays.
    void answersReachTheClass()
    {
        if (!ThrowawayClassServer::installed())
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
        ThrowawayClassServer server;
        server.setUp();
        if (QTest::currentTestFailed())
            return;
        GameDriver game(m_home->path());
        game.setEnvironment(u"PGSERVICEFILE"_s, server.serviceFile(u"poste1"_s));
        START_GAME(game);
        game.click("Command4");
        for (int error : {0, 1, 0})
            game.answer(error);
        QVERIFY(server.waitForCount(u"poste1"_s, 3));
        QVERIFY2(game.close(), qPrintable(game.lastError()));
    }

    void twoGamesAtOnceKeepBothScores()
    {
        GameDriver first(m_home->path());
        GameDriver second(m_home->path());
        START_GAME(first);
        START_GAME(second);
        QVERIFY2(second.moveTo({720, 0}), qPrintable(second.lastError()));
        first.click("Command4");
        second.click("Command5");
        QCOMPARE(first.answer(0), u"1"_s);
        QCOMPARE(second.answer(0), u"1"_s);
        QCOMPARE(first.answer(0), u"2"_s);
        QCOMPARE(stored(first.storeFile(), u"1_joueur"_s), u"2"_s);
        QCOMPARE(stored(first.storeFile(), u"2_joueur"_s), u"1"_s);
    }

    // At twice the scale, the window and every control grow together.
    void doubleScale()
    {
        GameDriver game(m_home->path());
        game.setScale(2);
        START_GAME(game);
        const QImage shot = game.screenshot();
        QCOMPARE(shot.size(), QSize(1420, 1028));
        const QRect banner = design("Text1").pixels();
        QCOMPARE(GameDriver::commonColour(shot, patchOf("Text1", 2)), kBannerBlue);
        // The banner's edges are where the design puts them, doubled.
        QVERIFY(GameDriver::commonColour(
                    shot, QRect(banner.topLeft() * 2 + QPoint(4, 4), QSize(6, 6))) == kBannerBlue);
        QVERIFY(GameDriver::commonColour(
                    shot, QRect(banner.topLeft() * 2 - QPoint(8, 8), QSize(6, 6))) == kWhiteShown);
        QVERIFY(GameDriver::commonColour(shot, QRect(banner.bottomRight() * 2 - QPoint(8, 8),
                                                     QSize(6, 6))) == kBannerBlue);
        QVERIFY(GameDriver::commonColour(shot, QRect(banner.bottomRight() * 2 + QPoint(6, 6),
                                                     QSize(6, 6))) == kWhiteShown);
        game.click("Command1");
        QVERIFY(game.waitForColour("Text7", kStakeGreenShown));
        QCOMPARE(game.read("Text7"), u"2"_s);
    }

private:
    static bool waitForFormColour(GameDriver &game, QRgb colour)
    {
        return waitUntil(
            [&] { return GameDriver::commonColour(game.screenshot(), kFormPatch) == colour; }, 3000,
            100);
    }

    // Whether anything but white is drawn in the area (text, a frame).
    static bool hasInk(const QImage &shot, const QRect &area)
    {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                dark += qGray(shot.pixel(x, y)) < 128;
        return dark > 50;
    }

    void writeStore(const QString &text, const QByteArray &bytes = {})
    {
        QDir(m_home->path()).mkpath(u"config"_s);
        QFile file(m_home->filePath(u"config/MyApp.conf"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes.isEmpty() ? text.toUtf8() : bytes);
    }

    std::unique_ptr<QTemporaryDir> m_home;
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
