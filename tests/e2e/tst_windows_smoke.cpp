// SPDX-License-Identifier: GPL-3.0-or-later
#include "game_driver.h"
#include "tests/class_server_fixture.h"
#include "x_tools.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kScores = u"HKCU\\Software\\MyApp\\Startup"_s;
const QString kUninstallEntry =
    u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Additions"_s;

// The installed program, once the installer has run.
QString installedGame()
{
    QDirIterator found(qEnvironmentVariable("WINEPREFIX") + u"/drive_c/users"_s,
                       {u"additions.exe"_s}, QDir::Files, QDirIterator::Subdirectories);
    return found.hasNext() ? found.next() : QString();
}

// A value of the Wine prefix's registry, or an empty text.
QString registryValue(const QString &key, const QString &name)
{
    const ToolResult query =
        runTool(u"wine"_s, {u"reg"_s, u"query"_s, key, u"/v"_s, name}, {}, 60000);
    for (const QString &line : QString::fromLocal8Bit(query.output).split(u'\n'))
        if (const QStringList fields = line.simplified().split(u' ');
            fields.size() >= 3 && fields[0] == name)
            return fields.mid(2).join(u' ');
    return {};
}

// The text of the program's resources, from the ASCII column of objdump's
// dump of them.
QByteArray resourceText(const QString &program)
{
    const ToolResult dump =
        runTool(u"x86_64-w64-mingw32-objdump"_s, {u"-s"_s, u"-j"_s, u".rsrc"_s, program}, {});
    QByteArray text;
    for (const QByteArray &line : dump.output.split('\n'))
        if (line.startsWith(' '))
            text += line.right(16);
    return text;
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
        QVERIFY(runTool(u"wine"_s, {m_installer, u"/S"_s}, {}, 180000).ok);
        const QString users = qEnvironmentVariable("WINEPREFIX") + u"/drive_c/users"_s;
        const QString program = installedGame();
        QVERIFY2(program.endsWith(u"/AppData/Local/Programs/Additions/additions.exe"_s),
                 qPrintable(program));
        const QString folder = QFileInfo(program).absolutePath();
        QDirIterator shortcut(users, {u"Additions.lnk"_s}, QDir::Files,
                              QDirIterator::Subdirectories);
        QVERIFY2(shortcut.hasNext() && shortcut.next().contains(u"/Start Menu/Programs/"_s),
                 "no Start menu entry");
        QCOMPARE(registryValue(kUninstallEntry, u"DisplayName"_s), u"Additions"_s);
        QVERIFY(registryValue(kUninstallEntry, u"EstimatedSize"_s).startsWith(u"0x"_s));
        QVERIFY2(QFileInfo(m_installer).size() < 14 * 1000 * 1000,
                 qPrintable(QString::number(QFileInfo(m_installer).size())));
        const QByteArray manifest = resourceText(program);
        for (const char *part :
             {"PerMonitorV2", "Microsoft.Windows.Common-Controls", "supportedOS"})
            QVERIFY2(manifest.contains(part), part);

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
        // The three answers, in %LOCALAPPDATA%\Additions and in the export.
        QDirIterator history(users, {u"history.sqlite"_s}, QDir::Files,
                             QDirIterator::Subdirectories);
        QVERIFY(history.hasNext() &&
                history.next().endsWith(u"/AppData/Local/Additions/history.sqlite"_s));
        const QString csv = home.filePath(u"history.csv"_s);
        const QString progress = folder + u"/additions-progres.exe"_s;
        const ToolResult exported =
            runTool(u"wine"_s, {progress, u"--exporter"_s, u"Z:"_s + csv}, {}, 60000);
        QVERIFY2(exported.ok, qPrintable(exported.error));
        QCOMPARE(spreadsheetColumns(csv, {1, 6, 8}),
                 QStringList({u"joueur|juste|score"_s, u"BIENVENUE|oui|1"_s, u"BIENVENUE|non|0"_s,
                              u"1_joueur|oui|1"_s}));
        QFile entry(QFileInfo(shortcut.filePath()).absolutePath() + u"/Additions - progrès.lnk"_s);
        QVERIFY2(entry.open(QIODevice::ReadOnly), "no Start menu entry for the Progrès window");
        QVERIFY(entry.readAll().contains("additions-progres.exe"));
        {
            // The adults' program opens its window.
            QProcess adults;
            adults.start(u"wine"_s, {progress});
            QString window;
            const auto shown = [&window] {
                window = QString::fromUtf8(runTool(u"xdotool"_s,
                                                   {u"search"_s, u"--onlyvisible"_s, u"--name"_s,
                                                    u"^Additions : progrès$"_s},
                                                   {})
                                               .output)
                             .split(u'\n')
                             .value(0);
                return !window.isEmpty();
            };
            QVERIFY2(waitUntil(shown, 60000), "additions-progres.exe shows no window");
            QVERIFY(sendDeleteWindow(window.toUInt()));
            QVERIFY2(adults.waitForFinished(30000) && adults.exitCode() == 0,
                     "additions-progres.exe does not end when its window is closed");
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

        QVERIFY(runTool(u"wine"_s, {folder + u"/uninstall.exe"_s, u"/S"_s}, {}, 60000).ok);
        // The uninstaller goes on from a copy of itself, after the call returns.
        QVERIFY2(waitUntil([&] { return !QFileInfo::exists(folder); }, 60000, 200),
                 qPrintable(u"left behind: "_s + QDir(folder).entryList().join(u' ')));
        QVERIFY(registryValue(kUninstallEntry, u"DisplayName"_s).isEmpty());
        QCOMPARE(registryValue(kScores, u"1_joueur"_s), u"1"_s);
    }

    // A custom folder, with a blank and an accent, is where a reinstall goes
    // too: one copy, one entry, one shortcut, all gone with the uninstall.
    void reinstallFindsTheCustomFolder()
    {
        const QString drive = qEnvironmentVariable("WINEPREFIX") + u"/drive_c"_s;
        // NSIS takes /D= unquoted, blanks and all, at the end of its command
        // line: Wine joins its arguments with blanks, unquoted when they have
        // none.
        QVERIFY(runTool(u"wine"_s,
                        {m_installer, u"/S"_s, u"/D=C:\\Jeux"_s, u"éducatifs\\Additions"_s}, {},
                        180000)
                    .ok);
        QVERIFY(runTool(u"wine"_s, {m_installer, u"/S"_s}, {}, 180000).ok);
        QStringList copies, shortcuts;
        for (QDirIterator found(drive, {u"additions.exe"_s, u"Additions.lnk"_s}, QDir::Files,
                                QDirIterator::Subdirectories);
             found.hasNext();)
            (found.next().endsWith(u".exe"_s) ? copies : shortcuts) << found.filePath();
        const QString program = drive + u"/Jeux éducatifs/Additions/additions.exe"_s;
        QCOMPARE(copies, QStringList{program});
        QCOMPARE(shortcuts.size(), 1);
        // reg prints in the console's code page: the accent is not compared.
        const QString location = registryValue(kUninstallEntry, u"InstallLocation"_s);
        QVERIFY2(location.startsWith(u"C:\\Jeux "_s) && location.endsWith(u"ducatifs\\Additions"_s),
                 qPrintable(location));

        // At 192 dots per inch the window is twice the design, and whole.
        const auto setDpi = [](int dpi) {
            return runTool(u"wine"_s,
                           {u"reg"_s, u"add"_s, u"HKCU\\Control Panel\\Desktop"_s, u"/v"_s,
                            u"LogPixels"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, QString::number(dpi),
                            u"/f"_s},
                           {}, 60000)
                .ok;
        };
        QVERIFY(setDpi(192));
        {
            QTemporaryDir home;
            GameDriver game(home.path());
            game.setScale(2);
            game.runUnderWine(program, m_clipboardHelper);
            START_GAME(game);
            QCOMPARE(game.screenshot().size(), QSize(1420, 1028));
            QVERIFY(game.close());
        }
        QVERIFY(setDpi(96));

        QVERIFY(runTool(u"wine"_s, {drive + u"/Jeux éducatifs/Additions/uninstall.exe"_s, u"/S"_s},
                        {}, 60000)
                    .ok);
        QVERIFY(waitUntil([&] { return !QFileInfo::exists(drive + u"/Jeux éducatifs"_s); }, 60000,
                          200));
        QVERIFY(registryValue(kUninstallEntry, u"DisplayName"_s).isEmpty());
    }

    // A school's class, over TLS with the school's certificate authority:
    // the game sends every answer once, a server stopped during play
    // included, and a teacher's Progrès joins the class.
    void classOverTls()
    {
        ThrowawayClassServer server;
        server.setUp();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(runTool(u"wine"_s, {m_installer, u"/S"_s}, {}, 180000).ok);
        const QString program = installedGame();
        QVERIFY(!program.isEmpty());
        // A computer new to the class: the earlier tests' answers stay out.
        const QString user = program.section(u"/AppData/"_s, 0, 0);
        QVERIFY(QDir(user + u"/AppData/Local/Additions"_s).removeRecursively());
        // libpq's files, for an account whose name is outside the ANSI code
        // page, in a folder of that name that PGSERVICEFILE and PGPASSFILE
        // name (Wine sets %APPDATA% itself).
        const QString drive = program.section(u"/drive_c/"_s, 0, 0) + u"/drive_c"_s;
        const QString folder = u"users/Łucja Şahin/postgresql"_s;
        QDir settings(drive + u'/' + folder);
        QVERIFY(settings.mkpath(u"."_s));
        const QString windowsFolder = windowsPath(drive, settings.path());
        qputenv("PGSERVICEFILE", (windowsFolder + u"\\.pg_service.conf"_s).toUtf8());
        qputenv("PGPASSFILE", (windowsFolder + u"\\pgpass.conf"_s).toUtf8());
        QFile::remove(settings.filePath(u"root.crt"_s));
        QVERIFY(
            QFile::copy(server.m_dir.filePath(u"school.crt"_s), settings.filePath(u"root.crt"_s)));
        const QString authority = windowsFolder + u"\\root.crt"_s;
        const auto service = [&](const QString &name, const QString &role,
                                 const QString &authorityFile) {
            return u"[%1]\nhost=localhost\nport=%2\ndbname=additions\nuser=%3\n"
                   "sslrootcert=%4\n"_s.arg(name, server.m_port, role, authorityFile);
        };
        const auto write = [](const QString &file, const QString &text) {
            QFile out(file);
            return out.open(QIODevice::WriteOnly) &&
                   out.write(text.toUtf8()) == text.toUtf8().size();
        };
        // The teacher's service and password are the teacher's own; the
        // computer's, password included, is in pg_service.conf beside the
        // programs, for every account, with the school's certificate.
        QVERIFY(write(settings.filePath(u".pg_service.conf"_s),
                      service(u"additions-enseignant"_s, u"prof_a"_s, authority)));
        QVERIFY(write(settings.filePath(u"pgpass.conf"_s),
                      u"localhost:%1:additions:prof_a:secret\n"_s.arg(server.m_port)));
        const QString programs = program.section(u'/', 0, -2);
        QFile::remove(programs + u"/school.crt"_s);
        QVERIFY(QFile::copy(server.m_dir.filePath(u"school.crt"_s), programs + u"/school.crt"_s));
        QVERIFY(write(
            programs + u"/pg_service.conf"_s,
            service(u"additions"_s, u"poste1"_s, windowsPath(drive, programs) + u"\\school.crt"_s) +
                u"password=secret\n"_s));
        // libpq's build names its own folder for the computer's service,
        // "/…/etc": on Windows a folder under C:\\ that any user may create,
        // under Wine the same Unix folder. A service planted there, as
        // another role, is never read.
        const QString buildFolder = libpqBuildFolder(programs + u"/libpq.dll"_s);
        QVERIFY2(!buildFolder.isEmpty(), "libpq.dll names no folder for its settings");
        QVERIFY(QDir().mkpath(buildFolder));
        const auto unplant =
            qScopeGuard([&] { QFile::remove(buildFolder + u"/pg_service.conf"_s); });
        QVERIFY(write(buildFolder + u"/pg_service.conf"_s,
                      service(u"additions"_s, u"intrus"_s, authority) + u"password=secret\n"_s));
        // OpenSSL's settings beside the programs, where a technician would
        // put them, hold TLS to 1.2: OpenSSL reads them and not those its
        // build names, "/usr/local/ssl", which on Windows is a folder under
        // C:\\ that any account may create.
        QVERIFY(writeTls12Settings(programs + u"/openssl.cnf"_s));
        const auto defaultTls = qScopeGuard([&] { QFile::remove(programs + u"/openssl.cnf"_s); });

        QTemporaryDir home;
        {
            GameDriver game(home.path());
            game.runUnderWine(program, m_clipboardHelper);
            START_GAME(game);
            game.click("Command4");
            for (int error : {0, 1, 0})
                game.answer(error);
            QVERIFY2(server.waitForCount(u"poste1"_s, 3, 60), "the answers did not arrive");
            // An upgrade while the game runs would leave a mix of versions.
            const QString core = programs + u"/Qt6Core.dll"_s;
            const QDateTime installed = QFileInfo(core).lastModified();
            QVERIFY2(!runTool(u"wine"_s, {m_installer, u"/S"_s}, {}, 180000).ok,
                     "a silent upgrade over a running game says it succeeded");
            QCOMPARE(QFileInfo(core).lastModified(), installed);
            QVERIFY(server.stop());
            game.answer(0);
            game.answer(1);
            QVERIFY(server.start());
            QVERIFY2(server.waitForCount(u"poste1"_s, 5, 90), "answers were lost to the stop");
            QVERIFY(game.close());
        }
        const ToolResult overTls = server.psql(
            u"postgres"_s, u"additions"_s,
            u"SELECT 1 / (COUNT(DISTINCT id) = 5 AND COUNT(*) = 5)::int FROM additions.answers"_s);
        QVERIFY2(overTls.ok, qPrintable(overTls.error));

        // The teacher's Progrès joins the class over TLS and listens to it,
        // with the settings beside it.
        QProcess adults;
        adults.start(u"wine"_s, {programs + u"/additions-progres.exe"_s});
        const auto teacherListens = [&] {
            return server
                .psql(u"postgres"_s, u"additions"_s,
                      u"SELECT 1 / COUNT(*)::int FROM pg_stat_activity JOIN pg_stat_ssl "
                      "USING (pid) WHERE usename = 'prof_a' AND ssl AND version = 'TLSv1.2'"_s)
                .ok;
        };
        QVERIFY2(waitUntil(teacherListens, 60000, 500), "Progrès did not join the class");
        adults.terminate();
        adults.waitForFinished(10000);
        runTool(u"wineserver"_s, {u"-k"_s}, {}, 30000);

        // A service that asks for TLS without the check (libpq takes
        // requiressl as an sslmode, after the program's own), naming another
        // authority: Progrès never joins.
        QFile::remove(settings.filePath(u"other.crt"_s));
        QVERIFY(
            QFile::copy(server.m_dir.filePath(u"other.crt"_s), settings.filePath(u"other.crt"_s)));
        QVERIFY(write(
            settings.filePath(u".pg_service.conf"_s),
            service(u"additions-enseignant"_s, u"prof_a"_s, windowsFolder + u"\\other.crt"_s) +
                u"requiressl=1\n"_s));
        adults.start(u"wine"_s, {programs + u"/additions-progres.exe"_s});
        QVERIFY2(!waitUntil(teacherListens, 20000, 500),
                 "Progrès joined a server its authority did not sign");
        adults.terminate();
        adults.waitForFinished(10000);
        runTool(u"wineserver"_s, {u"-k"_s}, {}, 30000);
    }

    // A class a teacher opened on a Linux computer, joined by the Windows
    // programs with its code: the game's answers reach it over TLS.
    void joinsAClassHostedByATeacher()
    {
        // The earlier test's settings stay out.
        qunsetenv("PGSERVICEFILE");
        qunsetenv("PGPASSFILE");
        QTemporaryDir teacher;
        const QString program = installedGame();
        QVERIFY(!program.isEmpty());
        // A class runs as its teacher's account, never root.
        QStringList asTeacher;
        if (::geteuid() == 0) {
            QVERIFY(::chown(QFile::encodeName(teacher.path()).constData(), 65534, 65534) == 0);
            asTeacher = {u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s};
        }
        QProcessEnvironment home;
        home.insert(u"HOME"_s, teacher.path());
        home.insert(u"XDG_DATA_HOME"_s, teacher.path());
        const auto asTheTeacher = [&](const QString &tool, const QStringList &arguments) {
            const QStringList line = asTeacher + QStringList{tool} + arguments;
            return runTool(line.first(), line.mid(1), home, 60000);
        };
        const ToolResult opened = asTheTeacher(QStringLiteral(ADDITIONS_PROGRES_EXECUTABLE),
                                               {u"--ouvrir-classe"_s, u"CE2 Wine"_s});
        QVERIFY2(opened.ok, qPrintable(opened.error));
        const QString code = QString::fromUtf8(opened.output).section(u"code "_s, 1).trimmed();
        QFile portFile(teacher.path() + u"/additions/classe/port"_s);
        const QString port = portFile.open(QIODevice::ReadOnly)
                                 ? QString::fromLatin1(portFile.readAll())
                                 : u"5478"_s;
        const auto stopClass = qScopeGuard([&] {
            asTheTeacher(u"/usr/lib/postgresql/15/bin/pg_ctl"_s,
                         {u"stop"_s, u"-m"_s, u"fast"_s, u"-D"_s,
                          teacher.path() + u"/additions/classe/data"_s});
        });
        // The earlier test's answers stay out.
        const QString programs = program.section(u'/', 0, -2);
        const QString user = program.section(u"/AppData/"_s, 0, 0);
        QVERIFY(QDir(user + u"/AppData/Local/Additions"_s).removeRecursively());
        QFile::remove(programs + u"/pg_service.conf"_s);
        const auto join = [&](const QString &withCode) {
            return runTool(u"wine"_s,
                           {programs + u"/additions-progres.exe"_s, u"--rejoindre"_s,
                            u"localhost:"_s + port, withCode},
                           {}, 90000);
        };
        QVERIFY2(!join(u"AAAA-AAAA-AAAA"_s).ok, "a wrong code joined");
        QVERIFY(!QFile::exists(programs + u"/pg_service.conf"_s));
        const ToolResult joined = join(code.toLower());
        QVERIFY2(joined.ok, qPrintable(joined.error));
        // An administrator joins the computer for every account.
        QVERIFY(QFile::exists(programs + u"/pg_service.conf"_s));
        QVERIFY(QFile::exists(programs + u"/additions-classe.crt"_s));

        QTemporaryDir child;
        GameDriver game(child.path());
        game.runUnderWine(program, m_clipboardHelper);
        START_GAME(game);
        game.click("Command4");
        for (int error : {0, 1, 0})
            game.answer(error);
        const auto answersHeard = [&] {
            return asTheTeacher(u"psql"_s,
                                {u"-h"_s, teacher.path() + u"/additions/classe"_s, u"-p"_s, port,
                                 u"-d"_s, u"additions"_s, u"-U"_s, u"enseignant"_s, u"-Atc"_s,
                                 u"SELECT 1 / (count(*) = 3)::int FROM additions.answers"_s})
                .ok;
        };
        QVERIFY2(waitUntil(answersHeard, 60000, 1000), "the answers did not reach the class");
        QVERIFY(game.close());
        runTool(u"wineserver"_s, {u"-k"_s}, {}, 30000);
    }

    // A Windows teacher's computer hosts the class, from the installed
    // program's own server; a Linux computer joins it and its game's
    // answers reach the teacher.
    void hostsAClassALinuxComputerJoins()
    {
        const QString program = installedGame();
        QVERIFY(!program.isEmpty());
        const QString programs = program.section(u'/', 0, -2);
        // Wine names the Windows account after the Unix one; the history
        // made the program's folder first, with a capital.
        const QString user = qEnvironmentVariable("WINEPREFIX") + u"/drive_c/users/"_s +
                             QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
        const QString folder = user + u"/AppData/Local/Additions/classe"_s;
        QVERIFY(writeTls12Settings(programs + u"/openssl.cnf"_s));
        const auto defaultTls = qScopeGuard([&] { QFile::remove(programs + u"/openssl.cnf"_s); });
        const auto stopClass = qScopeGuard([&] { runTool(u"wineserver"_s, {u"-k"_s}, {}, 30000); });
        QElapsedTimer opening;
        opening.start();
        const ToolResult opened = runTool(
            u"wine"_s,
            {programs + u"/additions-progres.exe"_s, u"--ouvrir-classe"_s, u"CM1 Windows"_s}, {},
            180000);
        QVERIFY2(opened.ok, qPrintable(opened.error + QString::fromUtf8(opened.output)));
        qInfo("A class opened under Wine in %lld ms", qint64(opening.elapsed()));
        const QString code = QString::fromUtf8(opened.output).section(u"code "_s, 1).trimmed();
        QFile portFile(folder + u"/port"_s);
        QVERIFY2(portFile.open(QIODevice::ReadOnly), qPrintable(portFile.fileName()));
        const QString address = u"127.0.0.1:"_s + QString::fromLatin1(portFile.readAll());

        // As a school's deployment tool joins a Linux computer, into a
        // folder of the test's rather than the machine's.
        QTemporaryDir computer;
        QProcessEnvironment settings;
        settings.insert(u"PGSYSCONFDIR"_s, computer.path());
        settings.insert(u"HOME"_s, computer.path());
        const ToolResult joined = runTool(QStringLiteral(ADDITIONS_PROGRES_EXECUTABLE),
                                          {u"--rejoindre"_s, address, code}, settings, 30000);
        QVERIFY2(joined.ok, qPrintable(joined.error + QString::fromUtf8(joined.output)));

        GameDriver game(computer.path());
        game.setEnvironment(u"PGSYSCONFDIR"_s, computer.path());
        START_GAME(game);
        game.click("Command4");
        for (int error : {0, 1, 0})
            game.answer(error);
        // What the teacher's program reads, with the teacher's password and
        // the class's authority, the certificate checked, over the TLS that
        // the settings beside the server's programs allow.
        QFile passwords(folder + u"/enseignant.pgpass"_s);
        QVERIFY(passwords.open(QIODevice::ReadOnly));
        const QString password = QString::fromUtf8(passwords.readAll()).section(u':', 4);
        const QString teacher =
            u"host=127.0.0.1 port=%1 dbname=additions user=enseignant password=%2 "
            "sslmode=verify-full sslrootcert=%3/ca.crt"_s.arg(address.section(u':', 1), password,
                                                              folder);
        const auto answersHeard = [&] {
            return runTool(u"psql"_s, {teacher, u"-Atc"_s,
                                       u"SELECT 1 / (count(*) = 3 AND (SELECT version FROM "
                                       "pg_stat_ssl WHERE pid = pg_backend_pid()) = 'TLSv1.2')"
                                       "::int FROM additions.answers"_s})
                .ok;
        };
        QVERIFY2(waitUntil(answersHeard, 60000, 1000), "the answers did not reach the class");
        QVERIFY(game.close());
        // Windows stopped short, and another program takes the class's port
        // on loopback: the class does not start on it, and that program
        // gets no password, only requests for TLS.
        runTool(u"wineserver"_s, {u"-k"_s}, {}, 30000);
        const QStringList atLogin{programs + u"/additions-progres.exe"_s, u"--demarrer-classe"_s};
        QTcpServer squatter;
        QVERIFY(
            squatter.listen(QHostAddress::LocalHost, quint16(address.section(u':', 1).toInt())));
        const ToolResult refused = runTool(u"wine"_s, atLogin, {}, 180000);
        QVERIFY2(!refused.ok && refused.error.contains(u"un autre programme"_s),
                 qPrintable(refused.error));
        int asked = 0;
        while (squatter.waitForNewConnection(0) && squatter.hasPendingConnections()) {
            QTcpSocket *peer = squatter.nextPendingConnection();
            peer->waitForReadyRead(1000);
            QCOMPARE(peer->readAll(), QByteArray::fromHex("0000000804d2162f"));
            ++asked;
        }
        QVERIFY(asked > 0);
        squatter.close();
        // Then the teacher's login starts the class.
        const ToolResult started = runTool(u"wine"_s, atLogin, {}, 120000);
        QVERIFY2(started.ok, qPrintable(started.error));
        QVERIFY(answersHeard());
    }

private:
    // OpenSSL settings that hold TLS to 1.2.
    static bool writeTls12Settings(const QString &file)
    {
        QFile settings(file);
        return settings.open(QIODevice::WriteOnly) &&
               settings.write("openssl_conf = planted\n[planted]\nssl_conf = ssl\n[ssl]\n"
                              "system_default = tls\n[tls]\nMaxProtocol = TLSv1.2\n") > 0;
    }

    // The Windows path of a file under Wine's drive C.
    static QString windowsPath(const QString &drive, const QString &path)
    {
        return u"C:"_s + path.mid(drive.size()).replace(u'/', u'\\');
    }

    // The folder of settings libpq's build wrote into it ("/…/etc/…").
    static QString libpqBuildFolder(const QString &library)
    {
        QFile file(library);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        const qsizetype at = bytes.indexOf("/pq-installed/etc");
        if (at < 0)
            return {};
        const qsizetype start = bytes.lastIndexOf('\0', at) + 1;
        return QString::fromLocal8Bit(bytes.mid(start, bytes.indexOf('\0', at) - start));
    }

    QString m_installer;
    QString m_clipboardHelper;
};

QTEST_GUILESS_MAIN(TestWindowsSmoke)
#include "tst_windows_smoke.moc"
