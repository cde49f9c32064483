// SPDX-License-Identifier: GPL-3.0-or-later
#include "quiz/sentences.h"
#include "services/settings_score_store.h"

#include <QTest>

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

using namespace Qt::StringLiterals;

namespace {

// Gives the scores' key the access list written in SDDL.
bool restrictScores(const wchar_t *sddl)
{
    HKEY key = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool set = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\MyApp\\Startup", 0, nullptr, 0,
                                     WRITE_DAC, nullptr, &key, nullptr) == ERROR_SUCCESS &&
                     ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                          &descriptor, nullptr) &&
                     RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    if (key)
        RegCloseKey(key);
    return set;
}

} // namespace

// The scores in the real registry, under Wine: a key the user may not read
// or write is reported as such, and the child is told which key to check.
class TestRegistryStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restrictedKeyIsReported_data()
    {
        QTest::addColumn<QString>("access");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("saved");
        QTest::addRow("open") << u"D:(A;;KA;;;WD)"_s << true << true;
        QTest::addRow("no reading") << u"D:(D;;KR;;;WD)(A;;KA;;;WD)"_s << false << false;
        QTest::addRow("no writing") << u"D:(D;;0x6;;;WD)(A;;KA;;;WD)"_s << true << false;
    }

    void restrictedKeyIsReported()
    {
        QFETCH(QString, access);
        SettingsScoreStore store;
        QVERIFY(store.save(u"1_joueur"_s, u"7"_s));
        QVERIFY(restrictScores(reinterpret_cast<const wchar_t *>(access.utf16())));
        const ScoreRead read = store.read(u"1_joueur"_s);
        const bool saved = store.save(u"1_joueur"_s, u"8"_s);
        QVERIFY(restrictScores(L"D:(A;;KA;;;WD)"));
        QTEST(read.readable, "readable");
        QTEST(saved, "saved");
        QCOMPARE(read.score.has_value(), read.readable);
    }

    // The registry as the test found it, for the tests that follow.
    void cleanupTestCase() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MyApp"); }

    void messagesNameTheKey()
    {
        const QString key = SettingsScoreStore().location();
        QCOMPARE(key, u"HKEY_CURRENT_USER\\Software\\MyApp\\Startup"_s);
        QVERIFY(sentences::scoreNotKept(key).endsWith(
            u"cette clé du registre peut être modifiée : "_s + key));
        QVERIFY(sentences::scoreNotRead(key).endsWith(u"cette clé du registre : "_s + key));
    }
};

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registry_store.moc"
