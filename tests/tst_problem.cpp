// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "quiz/handlers.h"
#include "services/clock_random.h"

#include <QTest>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

// What a level button does: a new problem within the level's bounds.
class TestProblem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addendsCoverOneToBound_data()
    {
        QTest::addColumn<int>("levelIndex");
        for (std::size_t i = 0; i < kLevels.size(); ++i)
            QTest::addRow("bound %d", kLevels[i].bound) << int(i);
    }

    // The extreme draws give exactly 1 and N; every draw in between stays
    // inside, including the largest single below 1.
    void addendsCoverOneToBound()
    {
        QFETCH(int, levelIndex);
        const Level &level = kLevels[std::size_t(levelIndex)];
        const float largestBelowOne = std::nextafter(1.0f, 0.0f);
        FakeServices services;
        FakeWindow window;
        services.random.draws = {0.0f, largestBelowOne};
        quiz::levelClicked(window, services.bundle(), level);
        QCOMPARE(window[Field::Text2], u"1"_s);
        QCOMPARE(window[Field::Text3], QString::number(level.bound));

        // The smallest draw that gives 2, and the largest one below it.
        float second = 1.0f / float(level.bound);
        if (double(second) * level.bound < 1.0)
            second = std::nextafter(second, 1.0f);
        window = FakeWindow();
        services.random.draws = {std::nextafter(second, 0.0f), second};
        quiz::levelClicked(window, services.bundle(), level);
        QCOMPARE(window[Field::Text2], u"1"_s);
        QCOMPARE(window[Field::Text3], u"2"_s);

        // The answer is recorded at the level drawn, whatever the child
        // then typed in the stake box.
        window[Field::Text4] = u"3"_s;
        window[Field::Text7] = u"9"_s;
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.history.answers.value(0).bound, level.bound);
        QCOMPARE(window.problemBound(), 0);
    }

    // With the real generator, many problems stay in range and reach both ends.
    void realDrawsStayInRangeAndReachBothEnds()
    {
        ClockRandomFixture fixture;
        for (const Level &level : kLevels) {
            if (level.bound > 1000)
                continue; // both ends of 5000 and 10000 would need too many draws
            bool sawOne = false, sawBound = false;
            int equalPairs = 0;
            for (int i = 0; i < 40 * level.bound; ++i) {
                FakeWindow window;
                quiz::levelClicked(window, fixture.bundle(), level);
                const int a = window[Field::Text2].toInt(), b = window[Field::Text3].toInt();
                QVERIFY2(a >= 1 && a <= level.bound && b >= 1 && b <= level.bound,
                         qPrintable(window[Field::Text2] + u" + "_s + window[Field::Text3]));
                sawOne = sawOne || a == 1 || b == 1;
                sawBound = sawBound || a == level.bound || b == level.bound;
                equalPairs += a == b;
            }
            QVERIFY2(sawOne && sawBound, qPrintable(QString::number(level.bound)));
            // About 40 equal pairs are expected by chance; a generator that
            // repeats its seed would make every pair equal.
            QVERIFY2(equalPairs < 160, "the two addends come out equal far too often");
        }
    }

    void eachDrawFollowsAReseed()
    {
        FakeServices services;
        FakeWindow window;
        quiz::levelClicked(window, services.bundle(), kLevels[0]);
        QCOMPARE(services.random.reseeds, 2);
        QCOMPARE(services.random.drawsWithoutReseed, 0);
    }

    void opensTheProblem_data()
    {
        QTest::addColumn<int>("levelIndex");
        QTest::addColumn<QString>("stakeBefore");
        QTest::addColumn<QString>("stakeAfter");
        QTest::addRow("moins de 50, empty stake") << 0 << QString() << u"1"_s;
        QTest::addRow("moins de 200") << 1 << u"0"_s << u"2"_s;
        QTest::addRow("moins de 1000") << 2 << u"0"_s << u"4"_s;
        QTest::addRow("moins de 5000") << 3 << u"0"_s << u"6"_s;
        QTest::addRow("moins de 10 000") << 4 << u"0"_s << u"8"_s;
        QTest::addRow("typed stake is added to") << 4 << u"5"_s << u"13"_s;
        QTest::addRow("typed fraction") << 0 << u"0.5"_s << u"1.5"_s;
        QTest::addRow("typed text counts as 0") << 1 << u"abc"_s << u"2"_s;
        QTest::addRow("typed stake past a score") << 0 << u"3000000000"_s << u"3000000001"_s;
        QTest::addRow("typed stake below a score") << 2 << u"-3000000000"_s << u"-2999999996"_s;
    }

    void opensTheProblem()
    {
        QFETCH(int, levelIndex);
        QFETCH(QString, stakeBefore);
        QFETCH(QString, stakeAfter);
        FakeServices services;
        FakeWindow window;
        window[Field::Text4] = u"old answer"_s;
        window[Field::Text5] = u"42"_s;
        window[Field::Text7] = stakeBefore;
        window.setBackground(Painted::Form1, kBands[0].colour);
        quiz::levelClicked(window, services.bundle(), kLevels[std::size_t(levelIndex)]);

        QCOMPARE(window[Field::Text4], QString());
        QCOMPARE(window.focus, std::optional(Field::Text4));
        QCOMPARE(window[Field::Text7], stakeAfter);
        QCOMPARE(window.background(Painted::Text7), STAKE_GREEN);
        QVERIFY(window.levelsHidden());
        QVERIFY(window.isVisible(Toggled::Command2));
        QVERIFY(!window.isVisible(Toggled::Text8));
        // The previous problem's sum, the banner and the colour stay.
        QCOMPARE(window[Field::Text5], u"42"_s);
        QCOMPARE(window[Field::Text1], u"BIENVENUE"_s);
        QCOMPARE(window.background(Painted::Form1), kBands[0].colour);
        QVERIFY(services.messenger.messages.isEmpty());

        // Answered, it is recorded at the level clicked, whatever the stake
        // box says, with the stake held to a score's range.
        window[Field::Text4] = u"0"_s;
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.history.answers.size(), 1);
        QCOMPARE(services.history.answers[0].bound, kLevels[std::size_t(levelIndex)].bound);
        QCOMPARE(services.history.answers[0].stake,
                 int(std::clamp(std::nearbyint(stakeAfter.toDouble()), -32768.0, 32767.0)));
    }

    void loadsTheScoreOfKnownKeysOnly_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("scoreShown");
        QTest::addRow("player 2") << u"2_joueur"_s << u"17"_s;
        QTest::addRow("welcome, nothing stored") << u"BIENVENUE"_s << u"nothing"_s;
        QTest::addRow("player 1, nothing stored") << u"1_joueur"_s << u"nothing"_s;
        QTest::addRow("typed name keeps the box") << u"Zoé"_s << u"previous"_s;
        QTest::addRow("letter case matters") << u"2_JOUEUR"_s << u"previous"_s;
        QTest::addRow("empty key keeps the box") << QString() << u"previous"_s;
    }

    void loadsTheScoreOfKnownKeysOnly()
    {
        QFETCH(QString, key);
        QFETCH(QString, scoreShown);
        FakeServices services;
        services.store.values = {{u"2_joueur"_s, u"17"_s}, {u"Zoé"_s, u"5"_s}};
        FakeWindow window;
        window[Field::Text1] = key;
        window[Field::Text6] = u"previous"_s;
        quiz::levelClicked(window, services.bundle(), kLevels[1]);
        QCOMPARE(window[Field::Text6], scoreShown);
        QCOMPARE(services.store.saves, 0);
    }

    // A stake too large to read cannot be raised, and a store that cannot be
    // read gives no score to show: nothing changes and the child is told why.
    void refusesWhatItCannotRead_data()
    {
        QTest::addColumn<QString>("stake");
        QTest::addColumn<bool>("storeReadable");
        QTest::addColumn<Field>("focus");
        QTest::addRow("stake too large") << QString(400, u'9') << true << Field::Text7;
        QTest::addRow("store unreadable") << u"0"_s << false << Field::Text1;
    }

    void refusesWhatItCannotRead()
    {
        QFETCH(QString, stake);
        QFETCH(bool, storeReadable);
        FakeServices services;
        services.store.failReads = !storeReadable;
        FakeWindow window;
        window[Field::Text7] = stake;
        const QString before = window.snapshot();
        quiz::levelClicked(window, services.bundle(), kLevels[0]);
        QTEST(*window.focus, "focus");
        QCOMPARE(window.snapshot(), before);
        QCOMPARE(services.messenger.messages.size(), 1);
        QCOMPARE(services.random.reseeds, 0);
    }

private:
    // The real generator, with fakes for everything else.
    struct ClockRandomFixture
    {
        ClockRandom random;
        CountingBeeper beeper;
        MemoryStore store;
        RecordingMessenger messenger;
        MemoryHistory history;
        QuizServices bundle() { return {random, beeper, store, messenger, history}; }
    };
};

QTEST_GUILESS_MAIN(TestProblem)
#include "tst_problem.moc"
