// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "quiz/handlers.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The player buttons, the score reset and the information panel.
class TestPlayers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void playerButtonChangesTheBannerOnly_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("key");
        QTest::addRow("1") << 0 << u"1_joueur"_s;
        QTest::addRow("2") << 1 << u"2_joueur"_s;
        QTest::addRow("3") << 2 << u"3_joueur"_s;
    }

    void playerButtonChangesTheBannerOnly()
    {
        QFETCH(int, button);
        QFETCH(QString, key);
        FakeWindow window;
        window[Field::Text6] = u"12"_s;
        FakeWindow expected = window;
        expected[Field::Text1] = key;
        quiz::playerClicked(window, kPlayers[std::size_t(button)]);
        QCOMPARE(window.snapshot(), expected.snapshot());
    }

    // The open problem is scored from the score shown, under the new key.
    void openProblemIsScoredUnderTheNewPlayer()
    {
        FakeServices services;
        services.store.values = {{u"1_joueur"_s, u"5"_s}, {u"2_joueur"_s, u"30"_s}};
        FakeWindow window = openProblem(u"1_joueur"_s, u"2"_s, u"2"_s, u"4"_s, u"2"_s, u"5"_s);
        quiz::playerClicked(window, kPlayers[1]);
        QVERIFY(window.problemOpen());
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.store.values.value(u"2_joueur"_s), u"7"_s);
        QCOMPARE(services.store.values.value(u"1_joueur"_s), u"5"_s);
        QCOMPARE(window[Field::Text6], u"7"_s);
    }

    void resetStoresZeroAndChangesNothingElse_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addRow("player 3") << u"3_joueur"_s;
        QTest::addRow("welcome") << u"BIENVENUE"_s;
        QTest::addRow("typed name") << u"Zoé/1"_s;
    }

    void resetStoresZeroAndChangesNothingElse()
    {
        QFETCH(QString, key);
        FakeServices services;
        services.store.values = {{key, u"57"_s}, {u"1_joueur"_s, u"9"_s}};
        FakeWindow window = openProblem(key, u"2"_s, u"2"_s, u"4"_s, u"6"_s, u"57"_s);
        window.setBackground(Painted::Form1, kBands[5].colour);
        FakeWindow expected = window;
        expected[Field::Text6] = u"0"_s;
        quiz::resetClicked(window, services.bundle());
        QCOMPARE(window.snapshot(), expected.snapshot());
        QCOMPARE(services.store.values.value(key), u"0"_s);
        QCOMPARE(services.store.values.value(u"1_joueur"_s), u"9"_s);
        QVERIFY(services.messenger.messages.isEmpty());
    }

    void resetDuringAProblemThenRightAnswer()
    {
        FakeServices services;
        services.store.values = {{u"2_joueur"_s, u"25"_s}};
        FakeWindow window =
            openProblem(u"2_joueur"_s, u"500"_s, u"300"_s, u"800"_s, u"4"_s, u"25"_s);
        quiz::resetClicked(window, services.bundle());
        quiz::okClicked(window, services.bundle());
        QCOMPARE(window[Field::Text6], u"4"_s);
        QCOMPARE(services.store.values.value(u"2_joueur"_s), u"4"_s);
    }

    void resetWithoutPlayerIsRefused()
    {
        FakeServices services;
        FakeWindow window;
        window[Field::Text1].clear();
        window[Field::Text6] = u"12"_s;
        const QString before = window.snapshot();
        quiz::resetClicked(window, services.bundle());
        QCOMPARE(window.snapshot(), before);
        QCOMPARE(services.store.saves, 0);
        QCOMPARE(services.messenger.messages.size(), 1);
        QCOMPARE(window.focus, std::optional(Field::Text1));
    }

    void failedResetIsSaid()
    {
        FakeServices services;
        services.store.values = {{u"1_joueur"_s, u"12"_s}};
        services.store.failSaves = true;
        FakeWindow window;
        window[Field::Text1] = u"1_joueur"_s;
        quiz::resetClicked(window, services.bundle());
        QCOMPARE(services.messenger.messages.size(), 1);
        QCOMPARE(services.store.values.value(u"1_joueur"_s), u"12"_s);
    }

    void informationToggles()
    {
        FakeWindow window;
        const QString closed = window.snapshot();
        quiz::informationClicked(window);
        QCOMPARE(window.caption, u"FERMER"_s);
        QVERIFY(window.isVisible(Toggled::Text8));
        quiz::informationClicked(window);
        QCOMPARE(window.snapshot(), closed);
        QVERIFY(!window.isVisible(Toggled::Text8));
    }

    void informationIgnoresOtherCaptions_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addRow("one blank") << u"POURQUOI ?"_s;
        QTest::addRow("lower case") << u"fermer"_s;
        QTest::addRow("empty") << QString();
    }

    void informationIgnoresOtherCaptions()
    {
        QFETCH(QString, caption);
        FakeWindow window;
        window.caption = caption;
        const QString before = window.snapshot();
        quiz::informationClicked(window);
        QCOMPARE(window.snapshot(), before);
    }
};

QTEST_GUILESS_MAIN(TestPlayers)
#include "tst_players_reset_information.moc"
