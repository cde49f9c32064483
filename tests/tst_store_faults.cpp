// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/score_file.h"
#include "store_harness.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

ScoreFile storedFile(const QString &config)
{
    return ScoreFile(fileContents(QDir(config).filePath(u"MyApp.conf"_s)));
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

// Thousands of saves, each flushed to the disk, take minutes on a loaded
// machine with slow flushes.
constexpr int kManySavesMs = 180000;

} // namespace

// The store against the faults of real life: copies of the game saving at
// once, a copy killed mid-save, a disk that fails or is full, a damaged file,
// and things in the folder that are not what they should be.
class TestStoreFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void concurrentCopiesAddingKeysLoseNone()
    {
        const auto config = scratchFolder();
        constexpr int kCopies = 4, kKeys = 250;
        std::vector<std::unique_ptr<Probe>> copies;
        for (int c = 0; c < kCopies; ++c)
            copies.push_back(std::make_unique<Probe>(
                config->path(), QStringList{u"fill"_s, u"p%1_"_s.arg(c), QString::number(kKeys)}));
        int refused = 0;
        for (auto &copy : copies) {
            QVERIFY2(copy->succeeded(kManySavesMs), qPrintable(copy->failure()));
            refused += copy->output().toInt();
        }
        const ScoreFile stored = storedFile(config->path());
        for (int c = 0; c < kCopies; ++c)
            for (int k = 0; k < kKeys; ++k)
                QCOMPARE(stored.score(u"p%1_%2"_s.arg(c).arg(k)), QString::number(k));
        qInfo("%d copies x %d new keys: all %d present (%d saves refused and made again)", kCopies,
              kKeys, kCopies * kKeys, refused);
    }

    // Every key is rewritten once with a value of the same length, so a lost
    // update stays visible.
    void concurrentSameLengthRewritesLoseNone()
    {
        constexpr int kRuns = 10, kCopies = 4, kKeys = 150;
        int lost = 0, refused = 0;
        for (int run = 0; run < kRuns; ++run) {
            const auto config = scratchFolder();
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
            for (auto &copy : copies) {
                QVERIFY2(copy->succeeded(kManySavesMs), qPrintable(copy->failure()));
                refused += copy->output().toInt();
            }
            const ScoreFile stored = storedFile(config->path());
            for (int c = 0; c < kCopies; ++c)
                for (int k = 0; k < kKeys; ++k)
                    lost += stored.score(u"w%1_%2"_s.arg(c).arg(k)) != u"after!";
        }
        QCOMPARE(lost, 0);
        qInfo("%d runs x %d copies x %d same-length rewrites: %d saves, none lost (%d refused and "
              "made again)",
              kRuns, kCopies, kKeys, kRuns * kCopies * kKeys, refused);
    }

    void killedMidSaveLeavesAReadableFile()
    {
        const auto config = scratchFolder();
        constexpr int kKills = 40;
        auto *random = QRandomGenerator::global();
        for (int kill = 0; kill < kKills; ++kill) {
            Probe loop(config->path(), {u"loop"_s});
            QVERIFY(loop.process().waitForReadyRead(10000));
            QTest::qSleep(random->bounded(5, 60));
            ::kill(static_cast<pid_t>(loop.process().processId()), SIGKILL);
            QVERIFY(loop.process().waitForFinished());
            int lastStored = -1;
            for (const QString &line : loop.output().split(u'\n', Qt::SkipEmptyParts))
                lastStored = line.toInt();

            const ScoreFile stored = storedFile(config->path());
            QVERIFY(stored.unreadableLines().isEmpty());
            // Each key holds what it held before the loop's last save, or
            // what that save wrote: never less, never something else.
            for (int k = 0; k < 10 && k <= lastStored; ++k) {
                const QString value = stored.score(u"k%1"_s.arg(k)).value_or(u"<none>"_s);
                bool isNumber = false;
                const int number = value.toInt(&isNumber);
                QVERIFY2(
                    isNumber && number % 10 == k && number <= lastStored + 1 &&
                        number > lastStored - 10,
                    qPrintable(u"k%1 = '%2' after %3 saves"_s.arg(k).arg(value).arg(lastStored)));
            }
            // The next copy of the game saves at once, and clears what the
            // killed one left.
            QVERIFY(Probe(config->path(), {u"save"_s, u"after"_s, u"1"_s}).succeeded());
            QCOMPARE(filesIn(config->path()),
                     QStringList({u"MyApp.conf"_s, u"MyApp.conf.save-lock"_s}));
        }
        qInfo("%d kills mid-save survived", kKills);
    }

    // A disk with no room, or with one page free: the save that does not fit
    // is reported and the old file kept as it was.
    void fullDiskIsReportedAndTheOldFileKept_data()
    {
        QTest::addColumn<int>("freeBytes");
        QTest::addRow("full") << 0;
        QTest::addRow("one page free") << 4096;
    }

    void fullDiskIsReportedAndTheOldFileKept()
    {
        QFETCH(int, freeBytes);
        QTemporaryDir mountPoint;
        if (QProcess::execute(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s,
                                           mountPoint.path()}) != 0)
            QSKIP("cannot mount a small tmpfs here (needs root): the full-disk case is not run");
        const auto unmount =
            qScopeGuard([&] { QProcess::execute(u"umount"_s, {mountPoint.path()}); });
        QVERIFY(Probe(mountPoint.path(), {u"save"_s, u"1_joueur"_s, u"5"_s}).succeeded());
        const QByteArray before = fileContents(mountPoint.filePath(u"MyApp.conf"_s));
        QFile filler(mountPoint.filePath(u"filler"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        QVERIFY(filler.resize(filler.size() - freeBytes));
        filler.close();
        QVERIFY(
            !Probe(mountPoint.path(), {u"save"_s, u"2_joueur"_s, QString(9000, u'7')}).succeeded());
        QCOMPARE(fileContents(mountPoint.filePath(u"MyApp.conf"_s)), before);
        QCOMPARE(filesIn(mountPoint.path()),
                 QStringList({u"filler"_s, u"MyApp.conf"_s, u"MyApp.conf.save-lock"_s}));
    }

    // One system call of a save fails, each in turn: the N-th open, read,
    // write, fsync or rename, for N = 1, 2, ... until the save no longer
    // reaches the fault. Every score then holds its old or its new value, the
    // file reads whole, and failure is reported exactly when the new value
    // is not stored.
    void ioErrorSweep_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("error");
        const QByteArray clean = "[Other]\nx=1\n[Startup]\n1_joueur=5\n2_joueur=6\n3_joueur=7\n";
        const QByteArray damaged = "\xff garbage\n" + clean;
        for (const char *call : {"open", "read", "write", "fsync", "rename"})
            for (const auto &[name, error] : {std::pair{"EIO", EIO}, std::pair{"ENOSPC", ENOSPC}}) {
                QTest::addRow("%s %s", call, name) << clean << QString::fromLatin1(call) << error;
                QTest::addRow("%s %s, damaged file", call, name)
                    << damaged << QString::fromLatin1(call) << error;
            }
    }

    void ioErrorSweep()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, call);
        QFETCH(int, error);
        int n = 1;
        for (;; ++n) {
            QVERIFY2(n < 50, "the fault was reached 50 times");
            const auto config = scratchFolder();
            const QString file = config->filePath(u"MyApp.conf"_s);
            writeFile(file, before);
            QProcessEnvironment fault;
            fault.insert(u"LD_PRELOAD"_s, QStringLiteral(ADDITIONS_FAULT_SHIM));
            fault.insert(u"ADDITIONS_FAULT"_s, u"%1:%2:%3"_s.arg(call).arg(n).arg(error));
            // Under AddressSanitizer the shim comes before its runtime.
            fault.insert(u"ASAN_OPTIONS"_s, u"verify_asan_link_order=0"_s);
            Probe probe(config->path(), {u"save"_s, u"2_joueur"_s, u"60"_s}, fault);
            const bool saved = probe.succeeded();
            if (probe.output() == u"untouched") {
                QVERIFY(saved);
                break;
            }
            const ScoreFile stored = storedFile(config->path());
            const QString context = u"%1 #%2 failing"_s.arg(call).arg(n);
            QVERIFY2(stored.unreadableLines().isEmpty() || fileContents(file) == before,
                     qPrintable(context));
            QCOMPARE(stored.score(u"1_joueur"_s), u"5"_s);
            QCOMPARE(stored.score(u"3_joueur"_s), u"7"_s);
            QCOMPARE(saved, stored.score(u"2_joueur"_s) == u"60"_s);
            if (!saved)
                QVERIFY2(fileContents(file) == before, qPrintable(context));
            QVERIFY2(!filesIn(config->path()).join(u' ').contains(u"additions-new"_s),
                     qPrintable(context));
        }
        QVERIFY2(n > 1, "the shim made no call fail: the store calls something else");
        qInfo("%s: %d faults, then a save that never reached one", qPrintable(call), n - 1);
    }

    // The game owns MyApp.conf, its lock and its temporary file; a parent's
    // files that look like them are none of its business.
    void lookAlikeFilesAreLeftAlone()
    {
        const auto config = scratchFolder();
        const QStringList lookAlikes{u"MyApp.conf.backup"_s, u"MyApp.conf.abc123"_s,
                                     u"MyApp.conf.bak"_s, u"MyApp.conf.lock"_s,
                                     u"MyApp.conf.bak.2"_s};
        for (const QString &name : lookAlikes)
            writeFile(config->filePath(name), name.toUtf8() + " belongs to a parent\n");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"5"_s}).succeeded());
        QVERIFY(Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"6"_s}).succeeded());
        QVERIFY2(timer.elapsed() < 3000, qPrintable(u"%1 ms"_s.arg(timer.elapsed())));
        for (const QString &name : lookAlikes)
            QCOMPARE(fileContents(config->filePath(name)),
                     name.toUtf8() + " belongs to a parent\n");
        QCOMPARE(filesIn(config->path()).size(), lookAlikes.size() + 2);
    }

    // A damaged file is read, copied once to MyApp.conf.bak, and rewritten
    // without the lines nobody can read.
    void damagedFileIsKeptOnceAndRepaired_data()
    {
        QTest::addColumn<QByteArray>("contents");
        const QByteArray scores = "[Startup]\n1_joueur=21\n";
        QTest::addRow("garbage lines") << "\xff\xfe\x01 garbage\n=\n[[[\n" + scores;
        QTest::addRow("NUL bytes before the group") << QByteArray(4096, '\0') + scores;
        QTest::addRow("open quote") << scores + "2_joueur=\"open\n3_joueur=7\n";
        QTest::addRow("invalid UTF-8") << scores + "\xc3\x28 bad=\xe2\x82\n";
        QTest::addRow("huge line") << QByteArray(1 << 20, 'x') + '\n' + scores;
    }

    void damagedFileIsKeptOnceAndRepaired()
    {
        QFETCH(QByteArray, contents);
        const auto config = scratchFolder();
        const QString file = config->filePath(u"MyApp.conf"_s);
        for (int round = 0; round < 3; ++round) {
            writeFile(file, contents);
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
            QCOMPARE(readKey(config->path(), u"1_joueur"_s), u"21"_s);
            QVERIFY(Probe(config->path(), {u"save"_s, u"2_joueur"_s, u"4"_s}).succeeded());
            QCOMPARE(fileContents(file + u".bak"_s), contents);
            // A copy is exactly as private as its original.
            QCOMPARE(QFile::permissions(file + u".bak"_s) & QFileDevice::Permissions(0x77),
                     QFileDevice::Permissions());
            QVERIFY(storedFile(config->path()).unreadableLines().isEmpty());
            QCOMPARE(readKey(config->path(), u"1_joueur"_s), u"21"_s);
            QCOMPARE(readKey(config->path(), u"2_joueur"_s), u"4"_s);
        }
        QCOMPARE(filesIn(config->path()).size(), 3);
    }

    // Something the store cannot use in place of its file or its lock: the
    // read and the save give up at once, or after the lock's short wait.
    void blockedStoreGivesUpWithinASecond_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<bool>("readable");
        QTest::addRow("pipe for the file") << u"fifo MyApp.conf"_s << false;
        QTest::addRow("folder for the file") << u"folder MyApp.conf"_s << false;
        QTest::addRow("folder for the lock") << u"folder MyApp.conf.save-lock"_s << true;
        QTest::addRow("lock held") << u"held MyApp.conf.save-lock"_s << true;
        QTest::addRow("sparse 8 GiB file") << u"sparse MyApp.conf"_s << false;
    }

    void blockedStoreGivesUpWithinASecond()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, readable);
        const auto config = scratchFolder();
        const QString path = config->filePath(blocker.section(u' ', 1));
        const QString kind = blocker.section(u' ', 0, 0);
        QFile held(path);
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else if (kind == u"folder")
            QVERIFY(QDir().mkdir(path));
        else if (kind == u"sparse")
            QVERIFY(held.open(QIODevice::WriteOnly) && held.resize(qint64(8) << 30));
        else
            QVERIFY(held.open(QIODevice::ReadWrite) && ::flock(held.handle(), LOCK_EX) == 0);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(readKey(config->path(), u"1_joueur"_s) != u"<read failed>", readable);
        QVERIFY(!Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"5"_s}).succeeded(10000));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(u"%1 ms"_s.arg(timer.elapsed())));
        QVERIFY(!QFile::exists(config->filePath(u"MyApp.conf.bak"_s)));
    }

    // A second damaged file must not erase the only copy of the first.
    void everyDamagedLineIsKept()
    {
        const auto config = scratchFolder();
        const QString file = config->filePath(u"MyApp.conf"_s);
        for (const QByteArray damaged : {"one \xff", "two \xfe"}) {
            writeFile(file, "[Startup]\n" + damaged + "\n1_joueur=1\n");
            QVERIFY(Probe(config->path(), {u"save"_s, u"2_joueur"_s, u"4"_s}).succeeded());
        }
        const QByteArray kept = fileContents(file + u".bak"_s);
        QVERIFY2(kept.contains("one \xff\n") && kept.contains("two \xfe\n"), kept.constData());
    }

    // Made read-only by its user, the file is not replaced: the save is
    // refused, and the child told.
    void readOnlyFileIsNotRewritten()
    {
        const auto config = scratchFolder();
        const QString file = config->filePath(u"MyApp.conf"_s);
        writeFile(file, "[Startup]\n1_joueur=1\n");
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(!Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"2"_s}).succeeded());
        QCOMPARE(fileContents(file), QByteArray("[Startup]\n1_joueur=1\n"));
    }

    // Two folders whose MyApp.conf link to one shared file: their copies of
    // the game take turns under one lock.
    void linkedFoldersShareOneLock()
    {
        const auto shared = scratchFolder();
        const QString target = shared->filePath(u"scores.conf"_s);
        writeFile(target, {});
        std::vector<std::unique_ptr<QTemporaryDir>> folders;
        std::vector<std::unique_ptr<Probe>> copies;
        for (const QString &prefix : {u"a"_s, u"b"_s}) {
            folders.push_back(scratchFolder());
            QVERIFY(QFile::link(target, folders.back()->filePath(u"MyApp.conf"_s)));
            copies.push_back(std::make_unique<Probe>(folders.back()->path(),
                                                     QStringList{u"fill"_s, prefix, u"300"_s}));
        }
        for (auto &copy : copies)
            QVERIFY(copy->succeeded());
        const ScoreFile stored(fileContents(target));
        for (int k = 0; k < 300; ++k)
            QVERIFY(stored.score(u"a%1"_s.arg(k)) && stored.score(u"b%1"_s.arg(k)));
    }

    // After a run as root (sudo keeping HOME), every file of the folder is
    // still the child's, who goes on reading and saving.
    void rootRunLeavesTheChildsFiles()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run as root and then as another user");
        constexpr int kChild = 65534;
        const auto config = scratchFolder();
        const QString file = config->filePath(u"MyApp.conf"_s);
        writeFile(file, "[Startup]\n\xff damaged\n1_joueur=3\n");
        for (const QString &path : {config->path(), file})
            QCOMPARE(::chown(QFile::encodeName(path).constData(), kChild, kChild), 0);
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(Probe(config->path(), {u"save"_s, u"2_joueur"_s, u"4"_s}).succeeded());
        for (const QString &name : filesIn(config->path())) {
            struct stat status = {};
            QCOMPARE(::stat(QFile::encodeName(config->filePath(name)).constData(), &status), 0);
            QVERIFY2(status.st_uid == kChild && status.st_gid == kChild, qPrintable(name));
        }
        QVERIFY(Probe(config->path(), {u"save"_s, u"1_joueur"_s, u"5"_s}, {}, kChild).succeeded());
        Probe reader(config->path(), {u"read"_s, u"1_joueur"_s}, {}, kChild);
        QVERIFY(reader.succeeded());
        QCOMPARE(reader.output(), u"5"_s);
    }
};

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_store_faults.moc"
