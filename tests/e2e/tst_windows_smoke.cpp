// Additions - a game for practising addition. GPL-3.0-or-later.
#include "game_driver.h"
#include "x_tools.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kScores = u"HKCU\\Software\\MyApp\\Startup"_s;
const QString kUninstallEntry =
    u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Additions"_s;

// A value of the Wine prefix's registry, or an empty text.
QString registryValue(const QString &key, const QString &name)
{
    const ToolResult query =
        runTool(u"wine"_s, {u"reg"_s, u"query"_s, key, u"/v"_s, name}, xEnvironment(), 60000);
    for (const QString &line : QString::fromLocal8Bit(query.output).split(u'\n'))
        if (const QStringList fields = line.simplified().split(u' ');
            fields.size() >= 3 && fields[0] == name)
            return fields.mid(2).join(u' ');
    return {};
}

} // namespace

// The Windows game as a family gets it: the installer run silently in a
// fresh Wine prefix, the installed game played, its scores read from the
// registry, and the uninstaller, which must keep them.
class TestWindowsSmoke : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_installer = qEnvironmentVariable("ADDITIONS_WINDOWS_INSTALLER");
        m_clipboardHelper = qEnvironmentVariable("ADDITIONS_WINDOWS_CLIPBOARD");
        if (m_installer.isEmpty() || m_clipboardHelper.isEmpty() ||
            qEnvironmentVariable("WINEPREFIX").isEmpty())
            QSKIP("run by ./test windows, which builds the installer and a Wine prefix");
        const QString missing = missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(u"these programs are missing: "_s + missing));
    }

    void installPlayRestartUninstall()
    {
        QVERIFY(runTool(u"wine"_s, {m_installer, u"/S"_s}, xEnvironment(), 180000).ok);
        const QString users = qEnvironmentVariable("WINEPREFIX") + u"/drive_c/users"_s;
        QDirIterator found(users, {u"additions.exe"_s}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY2(found.hasNext(), "additions.exe is not in the user's folder");
        const QString program = found.next();
        QVERIFY2(program.endsWith(u"/AppData/Local/Programs/Additions/additions.exe"_s),
                 qPrintable(program));
        const QString folder = QFileInfo(program).absolutePath();
        QDirIterator shortcut(users, {u"Additions.lnk"_s}, QDir::Files,
                              QDirIterator::Subdirectories);
        QVERIFY2(shortcut.hasNext() && shortcut.next().contains(u"/Start Menu/Programs/"_s),
                 "no Start menu entry");
        QCOMPARE(registryValue(kUninstallEntry, u"DisplayName"_s), u"Additions"_s);

        QTemporaryDir home;
        {
            GameDriver game(home.path());
            game.runUnderWine(program, m_clipboardHelper);
            START_GAME(game);
            QCOMPARE(game.answer(0), u"1"_s);
            QCOMPARE(game.answer(1), u"0"_s);
            QCOMPARE(registryValue(kScores, u"BIENVENUE"_s), u"0"_s);
            game.click("Command4");
            QCOMPARE(game.answer(0), u"1"_s);
            QCOMPARE(registryValue(kScores, u"1_joueur"_s), u"1"_s);
            QVERIFY2(game.close(), "the game ends when its window is closed");
        }
        {
            GameDriver again(home.path());
            again.runUnderWine(program, m_clipboardHelper);
            START_GAME(again);
            again.click("Command4");
            again.click("Command10");
            QCOMPARE(again.read("Text6"), u"1"_s);
            QVERIFY(again.close());
        }

        QVERIFY(
            runTool(u"wine"_s, {folder + u"/uninstall.exe"_s, u"/S"_s}, xEnvironment(), 60000).ok);
        // The uninstaller goes on from a copy of itself, after the call returns.
        QVERIFY2(waitUntil([&] { return !QFileInfo::exists(folder); }, 60000, 200),
                 qPrintable(u"left behind: "_s + QDir(folder).entryList().join(u' ')));
        QVERIFY(registryValue(kUninstallEntry, u"DisplayName"_s).isEmpty());
        QCOMPARE(registryValue(kScores, u"1_joueur"_s), u"1"_s);
    }

private:
    QString m_installer;
    QString m_clipboardHelper;
};

QTEST_GUILESS_MAIN(TestWindowsSmoke)
#include "tst_windows_smoke.moc"
