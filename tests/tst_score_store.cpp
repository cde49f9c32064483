// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/score_key.h"
#include "services/settings_score_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The real settings file, in a configuration folder of the test's own.
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

    void locationIsWhereQSettingsKeepsTheScores()
    {
        QCOMPARE(SettingsScoreStore::location(),
                 QSettings(QSettings::NativeFormat, QSettings::UserScope, u"MyApp"_s).fileName());
        QCOMPARE(SettingsScoreStore::location(), storePath());
    }

    void missingKeyReadsNothing()
    {
        SettingsScoreStore store;
        QCOMPARE(store.read(u"2_joueur"_s), u"nothing"_s);
        QVERIFY(store.save(u"1_joueur"_s, u"3"_s));
        QCOMPARE(store.read(u"2_joueur"_s), u"nothing"_s);
    }

    void savedScoreIsReadBackAndReplaced()
    {
        SettingsScoreStore store;
        QVERIFY(store.save(u"2_joueur"_s, u"7"_s));
        QCOMPARE(store.read(u"2_joueur"_s), u"7"_s);
        QVERIFY(store.save(u"2_joueur"_s, u"-3"_s));
        QCOMPARE(SettingsScoreStore().read(u"2_joueur"_s), u"-3"_s);
    }

    // The file is where the desktop expects it, in the group the scores have
    // always used, and the player keys stand in it as they are.
    void fileLayout()
    {
        SettingsScoreStore store;
        QVERIFY(store.save(u"BIENVENUE"_s, u"12"_s));
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        QVERIFY2(contents.contains("[Startup]\nBIENVENUE=12\n"), contents.constData());
    }

    void anotherProcessSeesTheScore()
    {
        SettingsScoreStore store;
        QVERIFY(store.save(u"3_joueur"_s, u"42"_s));
        QCOMPARE(runProbe({u"read"_s, u"3_joueur"_s}), u"42"_s);
        QCOMPARE(runProbe({u"save"_s, u"1_joueur"_s, u"-8"_s}), QString());
        QCOMPARE(store.read(u"1_joueur"_s), u"-8"_s);
    }

    void systemWideFileIsIgnored()
    {
        QTemporaryDir systemConfig;
        QFile system(systemConfig.filePath(u"MyApp.conf"_s));
        QVERIFY(system.open(QIODevice::WriteOnly));
        system.write("[Startup]\n2_joueur=999\n");
        system.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, systemConfig.path());
        // Stock QSettings would find the system-wide score...
        QSettings withFallbacks(QSettings::NativeFormat, QSettings::UserScope, u"MyApp"_s);
        QCOMPARE(withFallbacks.value(u"Startup/2_joueur"_s).toString(), u"999"_s);
        // ...the store must not.
        QCOMPARE(SettingsScoreStore().read(u"2_joueur"_s), u"nothing"_s);
    }

    void oddKeysRoundTripWithoutTouchingOthers_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addRow("slash") << u"a/b"_s;
        QTest::addRow("lone slash") << u"/"_s;
        QTest::addRow("double slash") << u"//"_s;
        QTest::addRow("backslash") << u"a\\b"_s;
        QTest::addRow("percent") << u"%2F"_s;
        QTest::addRow("equals") << u"x=y"_s;
        QTest::addRow("brackets and hash") << u"[Startup]#"_s;
        QTest::addRow("accents") << u"Zoé"_s;
        QTest::addRow("other scripts") << u"日本 ☺"_s;
        QTest::addRow("blanks around") << u" joueur "_s;
        QTest::addRow("newline and tab") << u"a\nb\tc"_s;
        QTest::addRow("1000 characters") << QString(1000, u'k');
    }

    void oddKeysRoundTripWithoutTouchingOthers()
    {
        QFETCH(QString, key);
        SettingsScoreStore store;
        const QStringList neighbours{u"a"_s, u"b"_s,  u"a\\b"_s,    u"a/b"_s,
                                     u"/"_s, u"//"_s, u"1_joueur"_s};
        for (const QString &other : neighbours)
            QVERIFY(store.save(other, u"5"_s));
        QVERIFY(store.save(key, u"31"_s));
        QCOMPARE(SettingsScoreStore().read(key), u"31"_s);
        for (const QString &other : neighbours)
            if (other != key)
                QCOMPARE(SettingsScoreStore().read(other), u"5"_s);
        QCOMPARE(runProbe({u"read"_s, key}), u"31"_s);
    }

    void emptyKeyIsRefused()
    {
        SettingsScoreStore store;
        QVERIFY(!store.save(QString(), u"4"_s));
        QCOMPARE(store.read(QString()), u"nothing"_s);
        QVERIFY(!QFile::exists(storePath()));
    }

    void keyEncodingIsReversibleAndLeavesGameKeysAlone()
    {
        for (const QString &key : {u"1_joueur"_s, u"BIENVENUE"_s})
            QCOMPARE(score_key::encode(key), key);
        for (const QString &key : {u"%"_s, u"%25"_s, u"/\\%"_s, u"a%2Fb"_s, u"%5c"_s}) {
            QCOMPARE(score_key::decode(score_key::encode(key)), key);
            QVERIFY(!score_key::encode(key).contains(u'/'));
            QVERIFY(!score_key::encode(key).contains(u'\\'));
        }
        QVERIFY(score_key::encode(u"/"_s) != score_key::encode(u"//"_s));
    }

    void failedSaveIsReported()
    {
        // A plain file where the configuration folder should be: nothing can
        // be written below it, whoever runs the test.
        QTemporaryDir scratch;
        const QString blocker = scratch.filePath(u"not-a-folder"_s);
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, blocker + u"/config"_s);
        probe.setProcessEnvironment(env);
        probe.start(probePath(), {u"save"_s, u"1_joueur"_s, u"4"_s});
        QVERIFY(probe.waitForFinished());
        QCOMPARE(probe.exitCode(), 1);
    }

private:
    static QString storePath()
    {
        return QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath(u"MyApp.conf"_s);
    }
    static QString probePath()
    {
        return QCoreApplication::applicationDirPath() + u"/score_store_probe"_s;
    }

    // Runs the probe against the same store; returns what it printed, or
    // a failure note when it did not succeed.
    static QString runProbe(const QStringList &arguments)
    {
        QProcess probe;
        probe.start(probePath(), arguments);
        if (!probe.waitForFinished() || probe.exitStatus() != QProcess::NormalExit ||
            probe.exitCode() != 0)
            return u"<probe failed: "_s + QString::fromUtf8(probe.readAllStandardError()) + u">"_s;
        return QString::fromUtf8(probe.readAllStandardOutput());
    }

    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestScoreStore)
#include "tst_score_store.moc"
