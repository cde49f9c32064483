// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/settings_file.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QString probePath()
{
    return QCoreApplication::applicationDirPath() + u"/score_store_probe"_s;
}

// A settings folder of its own per case, on tmpfs where the machine has one:
// there writes are fastest, and lost updates were seen most there.
std::unique_ptr<QTemporaryDir> freshConfig()
{
    const QString base = QDir(u"/dev/shm"_s).exists() ? u"/dev/shm"_s : QDir::tempPath();
    return std::make_unique<QTemporaryDir>(base + u"/additions-store-XXXXXX"_s);
}

// A copy of the game's store in another process, on the given folder.
class Probe
{
public:
    Probe(const QString &config, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, config);
        m_process.setProcessEnvironment(environment);
        m_process.start(probePath(), arguments);
    }
    ~Probe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool succeeded(int timeoutMs = 60000)
    {
        return m_process.waitForFinished(timeoutMs) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

QString readKey(const QString &config, const QString &key)
{
    Probe probe(config, {u"read"_s, key});
    return probe.succeeded() ? QString::fromUtf8(probe.process().readAllStandardOutput())
                             : u"<read failed>"_s;
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

} // namespace

// The store against the faults of real life: copies of the game saving at
// once, a copy killed mid-save, a disk it cannot write, a damaged file.
class TestStoreFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void concurrentCopiesAddingKeysLoseNone()
    {
        const auto config = freshConfig();
        constexpr int kCopies = 4, kKeys = 500;
        std::vector<std::unique_ptr<Probe>> copies;
        for (int c = 0; c < kCopies; ++c)
            copies.push_back(std::make_unique<Probe>(
                config->path(), QStringList{u"fill"_s, u"p%1_"_s.arg(c), QString::number(kKeys)}));
        for (auto &copy : copies)
            QVERIFY(copy->succeeded());
        QSettings stored(config->filePath(u"MyApp.conf"_s), QSettings::IniFormat);
        stored.beginGroup(u"Startup"_s);
        QCOMPARE(stored.childKeys().size(), kCopies * kKeys);
        for (int c = 0; c < kCopies; ++c)
            for (int k = 0; k < kKeys; ++k)
                QCOMPARE(stored.value(u"p%1_%2"_s.arg(c).arg(k)).toString(), QString::number(k));
        qInfo("%d copies x %d new keys: all %d present", kCopies, kKeys, kCopies * kKeys);
    }

    // Same-length rewrites are the case plain QSettings loses: its re-read
    // shortcut cannot tell two of them apart in one millisecond. Every key is
    // rewritten once, so a lost update stays visible.
    void concurrentSameLengthRewritesLoseNone()
    {
        constexpr int kRuns = 20, kCopies = 4, kKeys = 150;
        int lost = 0;
        for (int run = 0; run < kRuns; ++run) {
            const auto config = freshConfig();
            QByteArray before = "[Startup]\n";
            for (int c = 0; c < kCopies; ++c)
                for (int k = 0; k < kKeys; ++k)
                    before += u"w%1_%2=before\n"_s.arg(c).arg(k).toLatin1();
            writeFile(config->filePath(u"MyApp.conf"_s), before);
            std::vector<std::unique_ptr<Probe>> copies;
            for (int c = 0; c < kCopies; ++c)
                copies.push_back(std::make_unique<Probe>(
                    config->path(),
                    QStringList{u"set"_s, u"w%1_"_s.arg(c), QString::number(kKeys), u"after!"_s}));
            for (auto &copy : copies)
                QVERIFY(copy->succeeded());
            QSettings stored(config->filePath(u"MyApp.conf"_s), QSettings::IniFormat);
            for (int c = 0; c < kCopies; ++c)
                for (int k = 0; k < kKeys; ++k)
                    lost += stored.value(u"Startup/w%1_%2"_s.arg(c).arg(k)).toString() != u"after!";
        }
        QCOMPARE(lost, 0);
        qInfo("%d runs x %d copies x %d same-length rewrites: %d saves, none lost", kRuns, kCopies,
              kKeys, kRuns * kCopies * kKeys);
    }

    void killedMidSaveLeavesAReadableFile()
    {
        const auto config = freshConfig();
        const QString file = config->filePath(u"MyApp.conf"_s);
        constexpr int kKills = 40;
        auto *random = QRandomGenerator::global();
        for (int kill = 0; kill < kKills; ++kill) {
            Probe loop(config->path(), {u"loop"_s});
            QVERIFY(loop.process().waitForReadyRead(10000));
            QTest::qSleep(random->bounded(5, 60));
            ::kill(static_cast<pid_t>(loop.process().processId()), SIGKILL);
            QVERIFY(loop.process().waitForFinished());
            const QList<QByteArray> printed = loop.process().readAllStandardOutput().split('\n');
            int lastStored = -1;
            for (const QByteArray &line : printed)
                if (!line.isEmpty())
                    lastStored = line.toInt();

            const QByteArray contents = fileContents(file);
            QVERIFY2(settings_file::isWellFormed(contents), contents.left(200).constData());
            QSettings stored(file, QSettings::IniFormat);
            QCOMPARE(stored.status(), QSettings::NoError);
            // Each key holds what it held before the loop's last save, or
            // what that save wrote: never less, never something else.
            for (int k = 0; k < 10 && k <= lastStored; ++k) {
                const QString value = stored.value(u"Startup/k%1"_s.arg(k)).toString();
                bool isNumber = false;
                const int number = value.toInt(&isNumber);
                QVERIFY2(
                    isNumber && number % 10 == k && number <= lastStored + 1 &&
                        number > lastStored - 10,
                    qPrintable(u"k%1 = '%2' after %3 saves"_s.arg(k).arg(value).arg(lastStored)));
            }
            // The next copy of the game saves at once.
            QElapsedTimer next;
            next.start();
            QVERIFY(Probe(config->path(), {u"save"_s, u"after"_s, u"1"_s}).succeeded());
            QVERIFY2(next.elapsed() < 3000, qPrintable(u"%1 ms"_s.arg(next.elapsed())));
        }
        qInfo("%d kills mid-save survived", kKills);
    }

    void abandonedLocksAndTemporaryFilesAreCleared()
    {
        const auto config = freshConfig();
        const QString file = config->filePath(u"MyApp.conf"_s);
        QVERIFY(Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"5"_s}).succeeded());
        // What a copy killed at the worst moment leaves.
        writeFile(file + u".lock"_s, {});
        writeFile(file + u".save-lock"_s, {});
        writeFile(file + u".Ab12Cd"_s, "half a file");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(Probe(config->path(), {u"save"_s, u"2_joueur"_s, u"6"_s}).succeeded());
        QVERIFY2(timer.elapsed() < 3000, qPrintable(u"%1 ms"_s.arg(timer.elapsed())));
        QVERIFY(!QFile::exists(file + u".lock"_s));
        QVERIFY(!QFile::exists(file + u".Ab12Cd"_s));
        QCOMPARE(readKey(config->path(), u"1_joueur"_s), u"5"_s);
        QCOMPARE(readKey(config->path(), u"2_joueur"_s), u"6"_s);
    }

    void fullDiskIsReportedAndTheOldFileKept()
    {
        QTemporaryDir mountPoint;
        QProcess mount;
        mount.start(u"mount"_s,
                    {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, mountPoint.path()});
        if (!mount.waitForFinished() || mount.exitCode() != 0)
            QSKIP("cannot mount a small tmpfs here (needs root): the full-disk case is not run");
        const auto unmount =
            qScopeGuard([&] { QProcess::execute(u"umount"_s, {mountPoint.path()}); });
        QVERIFY(Probe(mountPoint.path(), {u"save"_s, u"1_joueur"_s, u"5"_s}).succeeded());
        const QByteArray before = fileContents(mountPoint.filePath(u"MyApp.conf"_s));
        QFile filler(mountPoint.filePath(u"filler"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(1024, 'x')) == 1024 && filler.flush()) {
        }
        filler.close();
        QVERIFY(
            !Probe(mountPoint.path(), {u"save"_s, u"2_joueur"_s, QString(2000, u'7')}).succeeded());
        QCOMPARE(fileContents(mountPoint.filePath(u"MyApp.conf"_s)), before);
        QCOMPARE(readKey(mountPoint.path(), u"1_joueur"_s), u"5"_s);
    }

    void damagedFileIsReadKeptAsideAndRepaired_data()
    {
        QTest::addColumn<QByteArray>("contents");
        const QByteArray scores = "[Startup]\n1_joueur=21\n";
        QTest::addRow("garbage lines") << "\xff\xfe\x01 garbage\n=\n[[[\n" + scores;
        QTest::addRow("NUL bytes before the group") << QByteArray(4096, '\0') + scores;
        QTest::addRow("unterminated quote") << scores + "2_joueur=\"open\n3_joueur=7\n";
        QTest::addRow("invalid UTF-8") << scores + "\xc3\x28 bad=\xe2\x82\n";
        QTest::addRow("huge line") << QByteArray(1 << 20, 'x') + '\n' + scores;
        QTest::addRow("random bytes") << randomBytes(3000) + '\n' + scores;
    }

    void damagedFileIsReadKeptAsideAndRepaired()
    {
        QFETCH(QByteArray, contents);
        const auto config = freshConfig();
        const QString file = config->filePath(u"MyApp.conf"_s);
        writeFile(file, contents);
        QCOMPARE(readKey(config->path(), u"1_joueur"_s), u"21"_s);

        QVERIFY(Probe(config->path(), {u"save"_s, u"2_joueur"_s, u"4"_s}).succeeded());
        QCOMPARE(fileContents(file + u".bak"_s), contents);
        QVERIFY(settings_file::isWellFormed(fileContents(file)));
        QCOMPARE(readKey(config->path(), u"1_joueur"_s), u"21"_s);
        QCOMPARE(readKey(config->path(), u"2_joueur"_s), u"4"_s);

        // A later damage keeps its own copy; the first one stays.
        writeFile(file, contents);
        QVERIFY(Probe(config->path(), {u"save"_s, u"3_joueur"_s, u"1"_s}).succeeded());
        QCOMPARE(fileContents(file + u".bak.2"_s), contents);
        QCOMPARE(fileContents(file + u".bak"_s), contents);
    }

    void wellFormedFilesAreLeftAlone()
    {
        for (const QByteArray &contents : {QByteArray("[Startup]\n1_joueur=5\nZo%E9=-3\n"),
                                           QByteArray("; comment\n[General]\n\n"),
                                           QByteArray("[Startup]\nx=\"a \\\"quoted\\\" value\"\n")})
            QVERIFY2(settings_file::isWellFormed(contents), contents.constData());
    }

private:
    static QByteArray randomBytes(int size)
    {
        QByteArray bytes(size, '\0');
        QRandomGenerator generator(42);
        for (char &c : bytes)
            c = static_cast<char>(generator.bounded(256));
        return bytes;
    }
};

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_store_faults.moc"
