// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/file_score_store.h"
#include "services/score_file.h"
#include "store_harness.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace Qt::StringLiterals;

// The score file as people, QSettings and version 1.0.0 wrote it, and the
// real store on a configuration folder of the test's own.
class TestScoreStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void init() { QFile::remove(storePath()); }

    void readsEveryShapeOfFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("score");
        QTest::addColumn<QList<int>>("unreadable");
        const QString p2 = u"2_joueur"_s;
        QTest::addRow("1.0.0") << QByteArray("[Startup]\nBIENVENUE=12\n2_joueur=-5\n") << p2
                               << u"-5"_s << QList<int>();
        QTest::addRow("1.0.0 typed key")
            << QByteArray("[Startup]\na%252Fb%2525=4\n") << u"a/b%"_s << u"4"_s << QList<int>();
        QTest::addRow("QSettings escapes") << QByteArray("[Startup]\nZo%E9%U65E5\\x=3\n")
                                           << u"Zoé日/x"_s << u"3"_s << QList<int>();
        QTest::addRow("hand-written UTF-8")
            << QByteArray("[Startup]\nZoé=3\n") << u"Zoé"_s << u"3"_s << QList<int>();
        QTest::addRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Startup]\n1_joueur=1\n2_joueur=2\n") << p2 << u"2"_s
            << QList<int>();
        QTest::addRow("CR LF") << QByteArray("[Startup]\r\n1_joueur=1\r\n2_joueur=2\r\n") << p2
                               << u"2"_s << QList<int>();
        QTest::addRow("CR alone") << QByteArray("[Startup]\r1_joueur=1\r2_joueur=2") << p2 << u"2"_s
                                  << QList<int>();
        QTest::addRow("comment after the header")
            << QByteArray("[Startup] ; scores\n2_joueur=2\n") << p2 << u"2"_s << QList<int>();
        QTest::addRow("Latin-1 comment")
            << QByteArray("[Startup] ; \xe9t\xe9\n2_joueur=12 ; \xe9t\xe9\n") << p2 << u"12"_s
            << QList<int>();
        QTest::addRow("comments, blanks, spaces")
            << QByteArray("# parents\n\n[Startup]\n; Léa\n\n  2_joueur =  2 ; Léa\n") << p2
            << u"2"_s << QList<int>();
        QTest::addRow("repeated group")
            << QByteArray("[Startup]\n2_joueur=1\n[Other]\n2_joueur=7\n[Startup]\n2_joueur=9\n")
            << p2 << u"9"_s << QList<int>();
        QTest::addRow("trailing backslash")
            << QByteArray("[Startup]\n1_joueur=a\\\n2_joueur=2\n") << p2 << u"2"_s << QList<int>();
        QTest::addRow("quoted") << QByteArray("[Startup]\n2_joueur=\" 7;\"\n") << p2 << u" 7;"_s
                                << QList<int>();
        QTest::addRow("other group only")
            << QByteArray("[General]\n2_joueur=5\n") << p2 << u"<none>"_s << QList<int>();
        QTest::addRow("damaged lines")
            << QByteArray("\xff\xfe garbage\n=\n[[[\n[Startup]\n2_joueur=2\nno equals\n") << p2
            << u"2"_s << QList<int>{1, 2, 3, 6};
        QTest::addRow("open quote") << QByteArray("[Startup]\n1_joueur=\"open\n2_joueur=2\n") << p2
                                    << u"2"_s << QList<int>{2};
        QTest::addRow("NUL bytes") << QByteArray(4096, '\0') + "\n[Startup]\n2_joueur=2\n"
                                   << p2 << u"2"_s << QList<int>{1};
    }

    void readsEveryShapeOfFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, key);
        const ScoreFile file(bytes);
        QTEST(file.score(key).value_or(u"<none>"_s), "score");
        QTEST(file.unreadableLines(), "unreadable");
        // Written back, it reads the same, whole.
        const ScoreFile rewritten(file.bytes());
        QCOMPARE(rewritten.score(key), file.score(key));
        QVERIFY(rewritten.unreadableLines().isEmpty());
    }

    // A file a parent saved from Notepad keeps its byte-order mark and CR LF.
    void keepsWhatItDoesNotOwn()
    {
        writeFile(storePath(),
                  "\xEF\xBB\xBF; note\r\n[General]\r\ntheme=dark\r\n[Startup] ; scores\r\n"
                  "1_joueur=5 ; \xe9t\xe9\r\n# end\r\n[Other]\r\nk = v");
        FileScoreStore store;
        QVERIFY(store.save(u"2_joueur"_s, u"8"_s));
        QVERIFY(store.save(u"1_joueur"_s, u"6"_s));
        QCOMPARE(
            fileContents(storePath()),
            QByteArray("\xEF\xBB\xBF; note\r\n[General]\r\ntheme=dark\r\n[Startup] ; scores\r\n"
                       "1_joueur=6 ; \xe9t\xe9\r\n2_joueur=8\r\n# end\r\n[Other]\r\nk = v\r\n"));
        ScoreFile other("[General]\nx=1");
        other.setScore(u"BIENVENUE"_s, u"0"_s);
        QCOMPARE(other.bytes(), QByteArray("[General]\nx=1\n\n[Startup]\nBIENVENUE=0\n"));
    }

    // Any key a child can type, with any value, reads back exactly, leaves
    // the others alone, and QSettings reads what the game wrote.
    void keysAndValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addRow("slash") << u"a/b"_s << u"12"_s;
        QTest::addRow("backslash") << u"a\\b"_s << u"-3"_s;
        QTest::addRow("percent") << u"a%2Fb"_s << u""_s;
        QTest::addRow("equals, brackets, hash") << u"x=y[Startup]#;"_s << u"a;b,c=d"_s;
        QTest::addRow("accents, scripts, emoji") << u"Zoé 日本 😀"_s << u"Zoé 😀"_s;
        QTest::addRow("blanks around") << u" joueur "_s << u" 7 "_s;
        QTest::addRow("control characters") << u"a\nb\tc\x01"_s
                                            << u"a\nb\x01"
                                               u"9\"\\"_s;
        QTest::addRow("at sign") << u"@"_s << u"@Invalid()"_s;
        QTest::addRow("1000 characters") << QString(1000, u'k') << QString(1000, u'7');
    }

    void keysAndValuesRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QStringList neighbours{u"a"_s, u"b"_s, u"a\\b"_s, u"a/b"_s, u"/"_s, u"//"_s};
        ScoreFile file;
        for (const QString &other : neighbours)
            file.setScore(other, u"5"_s);
        file.setScore(key, value);
        const ScoreFile reread(file.bytes());
        QCOMPARE(reread.score(key), value);
        for (const QString &other : neighbours)
            if (other != key)
                QCOMPARE(reread.score(other), u"5"_s);

        QFile written(storePath());
        QVERIFY(written.open(QIODevice::WriteOnly));
        written.write(file.bytes());
        written.close();
        QSettings settings(storePath(), QSettings::IniFormat);
        QCOMPARE(settings.value(u"Startup/"_s + key).toString(), value);
        // And the other way round.
        settings.setValue(u"Startup/"_s + key, u"31"_s);
        settings.sync();
        QCOMPARE(FileScoreStore().read(key).score, u"31"_s);
    }

    void savedScoreIsReadBackAndReplaced()
    {
        FileScoreStore store;
        QCOMPARE(store.read(u"2_joueur"_s).score, std::nullopt);
        QVERIFY(store.save(u"2_joueur"_s, u"7"_s));
        QCOMPARE(store.read(u"2_joueur"_s).score, u"7"_s);
        QVERIFY(store.save(u"2_joueur"_s, u"-3"_s));
        QCOMPARE(readKey(m_config.path(), u"2_joueur"_s), u"-3"_s);
        QCOMPARE(readKey(m_config.path(), u"1_joueur"_s), u"<none>"_s);
        QCOMPARE(fileContents(storePath()), QByteArray("[Startup]\n2_joueur=-3\n"));
        QCOMPARE(store.location(), storePath());
    }

    void emptyKeyIsRefused()
    {
        FileScoreStore store;
        QVERIFY(!store.save(QString(), u"4"_s));
        QVERIFY(!QFile::exists(storePath()));
    }

    // A MyApp.conf that links elsewhere stays a link; the file it names is
    // the one rewritten.
    void linkedFileStaysALink()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(u"scores.conf"_s);
        writeFile(target, "[Startup]\n1_joueur=5\n");
        QVERIFY(QFile::link(target, storePath()));
        QVERIFY(FileScoreStore().save(u"2_joueur"_s, u"6"_s));
        QCOMPARE(QFileInfo(storePath()).symLinkTarget(), target);
        QCOMPARE(fileContents(target), QByteArray("[Startup]\n1_joueur=5\n2_joueur=6\n"));
        QVERIFY(QFile::exists(target + u".save-lock"_s));
    }

    // A user's extended attributes and access list stay on the file.
    void attributesAreKept()
    {
        const QByteArray path = QFile::encodeName(storePath());
        writeFile(storePath(), "[Startup]\n");
        if (::setxattr(path.constData(), "user.note", "parent", 6, 0) != 0)
            QSKIP("no extended attributes on this file system");
        QVERIFY(FileScoreStore().save(u"1_joueur"_s, u"1"_s));
        char note[16] = {};
        QCOMPARE(::getxattr(path.constData(), "user.note", note, sizeof note), 6);
        QCOMPARE(QByteArray(note), QByteArray("parent"));
    }

    // $XDG_CONFIG_HOME is used byte for byte when absolute, and ignored when
    // relative.
    void configFolderFromTheEnvironment_data()
    {
        QTest::addColumn<QByteArray>("configured");
        QTest::addColumn<QByteArray>("used");
        const QByteArray home = QFile::encodeName(m_config.path());
        QTest::addRow("relative") << QByteArray("relative") << home + "/.config";
        QTest::addRow("not UTF-8") << home + "/caf\xe9" << home + "/caf\xe9";
    }

    void configFolderFromTheEnvironment()
    {
        QFETCH(QByteArray, configured);
        QFETCH(QByteArray, used);
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(m_config.path()));
        qputenv("XDG_CONFIG_HOME", configured);
        // In a working folder of the test's own: a relative folder wrongly
        // used would land there, not in the tree the test runs from.
        QTemporaryDir working;
        const QString before = QDir::currentPath();
        QDir::setCurrent(working.path());
        const bool stored = FileScoreStore().save(u"1_joueur"_s, u"1"_s);
        QDir::setCurrent(before);
        qputenv("XDG_CONFIG_HOME", saved);
        QVERIFY(stored);
        QVERIFY(QDir(working.path()).isEmpty());
        struct stat status = {};
        QCOMPARE(::stat((used + "/MyApp.conf").constData(), &status), 0);
        std::filesystem::remove_all(used.toStdString());
    }

    void failedSaveIsReported()
    {
        // A plain file where the configuration folder should be: nothing can
        // be written below it, whoever runs the test.
        QTemporaryDir scratch;
        writeFile(scratch.filePath(u"not-a-folder"_s), {});
        Probe probe(scratch.filePath(u"not-a-folder/config"_s), {u"save"_s, u"1_joueur"_s, u"4"_s});
        QVERIFY(!probe.succeeded());
        QCOMPARE(probe.process().exitCode(), 1);
    }

private:
    QString storePath() const { return m_config.filePath(u"MyApp.conf"_s); }

    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestScoreStore)
#include "tst_score_store.moc"
