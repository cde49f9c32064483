// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "quiz/handlers.h"
#include "quiz/tables.h"

#include <QTest>

#include <cfloat>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Field)
Q_DECLARE_METATYPE(std::optional<BgrColour>)

namespace {

QString hugeNumber()
{
    return u"1"_s + QString(400, u'0');
}

// The largest double, written out: readable, but twice it is not finite.
QString largestDouble()
{
    return u"17976931348623157"_s + QString(292, u'0');
}

} // namespace

// What OK does: the verdict, the beeps, the score, the store and the colour.
class TestScoring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("stake");
        QTest::addColumn<QString>("scoreBefore");
        QTest::addColumn<QString>("sumShown");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QString>("scoreShown");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<BgrColour>("colour");

        const QString p2 = u"2_joueur"_s;
        QTest::addRow("right answer") << p2 << u"12"_s << u"30"_s << u"42"_s << u"2"_s << u"5"_s
                                      << u"42"_s << 1 << u"7"_s << u"7"_s << kBands[0].colour;
        QTest::addRow("wrong answer") << p2 << u"12"_s << u"30"_s << u"41"_s << u"2"_s << u"5"_s
                                      << u"42"_s << 3 << u"3"_s << u"3"_s << kBands[0].colour;
        QTest::addRow("below zero keeps the colour")
            << p2 << u"12"_s << u"30"_s << u"40"_s << u"4"_s << u"1"_s << u"42"_s << 3 << u"-3"_s
            << u"-3"_s << kUnchanged;
        QTest::addRow("nothing stored counts as 0")
            << u"BIENVENUE"_s << u"3"_s << u"4"_s << u"7"_s << u"1"_s << u"nothing"_s << u"7"_s << 1
            << u"1"_s << u"1"_s << kBands[0].colour;
        QTest::addRow("answer with blanks around")
            << p2 << u"3"_s << u"4"_s << u" 7 "_s << u"1"_s << u"0"_s << u"7"_s << 1 << u"1"_s
            << u"1"_s << kBands[0].colour;
        QTest::addRow("typed fractions add as shown")
            << p2 << u"0.1"_s << u"0.2"_s << u"0.3"_s << u"1"_s << u"0"_s << u"0.3"_s << 1 << u"1"_s
            << u"1"_s << kBands[0].colour;
        QTest::addRow("typed 16-digit sum keeps every digit")
            << p2 << u"1234567890123456"_s << u"1"_s << u"1234567890123457"_s << u"1"_s << u"0"_s
            << u"1234567890123457"_s << 1 << u"1"_s << u"1"_s << kBands[0].colour;
        QTest::addRow("largest sum")
            << p2 << u"10000"_s << u"10000"_s << u"20000"_s << u"8"_s << u"0"_s << u"20000"_s << 1
            << u"8"_s << u"8"_s << kBands[0].colour;
        QTest::addRow("band edge 10") << p2 << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"9"_s
                                      << u"2"_s << 1 << u"10"_s << u"10"_s << kBands[0].colour;
        QTest::addRow("band edge 11") << p2 << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"10"_s
                                      << u"2"_s << 1 << u"11"_s << u"11"_s << kBands[1].colour;
        QTest::addRow("band edge 100") << p2 << u"1"_s << u"1"_s << u"2"_s << u"8"_s << u"92"_s
                                       << u"2"_s << 1 << u"100"_s << u"100"_s << kBands[9].colour;
        QTest::addRow("101 is in no band") << p2 << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"100"_s
                                           << u"2"_s << 1 << u"101"_s << u"101"_s << kUnchanged;
        QTest::addRow("0 is in no band") << p2 << u"1"_s << u"1"_s << u"3"_s << u"1"_s << u"1"_s
                                         << u"2"_s << 3 << u"0"_s << u"0"_s << kUnchanged;
        QTest::addRow("typed key keeps the computed fraction")
            << u"Zoé"_s << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"6.5"_s << u"2"_s << 1
            << u"7.5"_s << u"8"_s << kUnchanged;
        QTest::addRow("known key shows the stored whole score")
            << p2 << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"6.5"_s << u"2"_s << 1 << u"8"_s
            << u"8"_s << kBands[0].colour;
        QTest::addRow("clamped at the top")
            << p2 << u"1"_s << u"1"_s << u"2"_s << u"8"_s << u"32760"_s << u"2"_s << 1 << u"32767"_s
            << u"32767"_s << kUnchanged;
        QTest::addRow("clamped at the bottom")
            << p2 << u"1"_s << u"1"_s << u"3"_s << u"8"_s << u"-32765"_s << u"2"_s << 3
            << u"-32768"_s << u"-32768"_s << kUnchanged;
        QTest::addRow("typed huge score is clamped and shown so")
            << u"Zoé"_s << u"1"_s << u"1"_s << u"2"_s << u"1"_s << u"1000000"_s << u"2"_s << 1
            << u"32767"_s << u"32767"_s << kUnchanged;
        QTest::addRow("last value a short holds")
            << p2 << u"1"_s << u"1"_s << u"2"_s << u"8"_s << u"32759"_s << u"2"_s << 1 << u"32767"_s
            << u"32767"_s << kUnchanged;
    }

    void answers()
    {
        QFETCH(QString, key);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, answer);
        QFETCH(QString, stake);
        QFETCH(QString, scoreBefore);
        FakeServices services;
        FakeWindow window = openProblem(key, first, second, answer, stake, scoreBefore);
        quiz::okClicked(window, services.bundle());

        QTEST(window[Field::Text5], "sumShown");
        QTEST(services.beeper.beeps, "beeps");
        QTEST(window[Field::Text6], "scoreShown");
        QTEST(services.store.values.value(key), "stored");
        QTEST(window.background(Painted::Form1), "colour");
        QVERIFY(services.messenger.messages.isEmpty());
        // The history gets the answer as the window shows it.
        QCOMPARE(services.history.answers.size(), 1);
        const AnswerRecord &kept = services.history.answers[0];
        QCOMPARE(QStringList({kept.player, kept.first, kept.second, kept.answer, kept.scoreAfter}),
                 QStringList({key, first, second, answer, window[Field::Text6]}));
        QCOMPARE(kept.right, services.beeper.beeps == 1);
        QCOMPARE(kept.stake, stake.toInt());
        // The problem is closed, whatever the verdict.
        QCOMPARE(window[Field::Text7], u"0"_s);
        QCOMPARE(window.background(Painted::Text7), kWhite);
        QVERIFY(window.levelsVisible());
        QVERIFY(!window.isVisible(Toggled::Command2));
        QCOMPARE(window[Field::Text4], answer);
        QVERIFY(!window.focus);
    }

    // The answer counts only while a problem is open (stake on green).
    void rightSumWithoutOpenProblemIsWrong()
    {
        FakeServices services;
        FakeWindow window = openProblem(u"1_joueur"_s, u"2"_s, u"2"_s, u"4"_s, u"1"_s, u"5"_s);
        window.setBackground(Painted::Text7, 0x80FF81);
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.beeper.beeps, 3);
        QCOMPARE(window[Field::Text6], u"4"_s);
    }

    void refusalsChangeNothing_data()
    {
        QTest::addColumn<Field>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Field>("focus");
        QTest::addRow("empty answer") << Field::Text4 << QString() << Field::Text4;
        QTest::addRow("blank answer") << Field::Text4 << u"   "_s << Field::Text4;
        QTest::addRow("letters") << Field::Text4 << u"quarante"_s << Field::Text4;
        QTest::addRow("digits and letters") << Field::Text4 << u"42a"_s << Field::Text4;
        QTest::addRow("grouped digits") << Field::Text4 << u"1 000"_s << Field::Text4;
        QTest::addRow("answer too large") << Field::Text4 << hugeNumber() << Field::Text4;
        QTest::addRow("empty player key") << Field::Text1 << QString() << Field::Text1;
        QTest::addRow("first addend too large") << Field::Text2 << hugeNumber() << Field::Text2;
        QTest::addRow("second addend too large") << Field::Text3 << hugeNumber() << Field::Text3;
        QTest::addRow("sum not finite") << Field::Text2 << largestDouble() << Field::Text2;
        QTest::addRow("score too large") << Field::Text6 << hugeNumber() << Field::Text6;
        QTest::addRow("stake too large") << Field::Text7 << hugeNumber() << Field::Text7;
        QTest::addRow("score plus stake not finite")
            << Field::Text7 << largestDouble() << Field::Text6;
    }

    void refusalsChangeNothing()
    {
        QFETCH(Field, field);
        QFETCH(QString, text);
        QFETCH(Field, focus);
        FakeServices services;
        services.store.values = {{u"2_joueur"_s, u"5"_s}};
        FakeWindow window = openProblem(u"2_joueur"_s, u"12"_s, u"30"_s, u"42"_s, u"2"_s, u"5"_s);
        window[Field::Text5] = u"17"_s;
        if (focus == Field::Text6 && field == Field::Text7) {
            window[Field::Text3] = u"0"_s;
            window[Field::Text2] = u"42"_s;
            window[Field::Text6] = largestDouble();
        }
        if (field == Field::Text2 && text == largestDouble())
            window[Field::Text3] = text;
        window[field] = text;
        const QString before = window.snapshot();
        const auto storeBefore = services.store.values;

        quiz::okClicked(window, services.bundle());
        QCOMPARE(window.snapshot(), before);
        QCOMPARE(services.store.values, storeBefore);
        QCOMPARE(services.store.saves, 0);
        QVERIFY(services.history.answers.isEmpty());
        QCOMPARE(services.beeper.beeps, 0);
        QCOMPARE(services.messenger.messages.size(), 1);
        QCOMPARE(window.focus, std::optional(focus));
    }

    // A save that fails is said, the game goes on, the score stays in the
    // window, and the next answer saves it.
    void failedSaveKeepsTheScoreForTheNextAnswer()
    {
        FakeServices services;
        services.store.values = {{u"1_joueur"_s, u"5"_s}};
        services.store.failSaves = true;
        FakeWindow window = openProblem(u"1_joueur"_s, u"2"_s, u"3"_s, u"5"_s, u"2"_s, u"5"_s);
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.messenger.messages.size(), 1);
        QVERIFY(services.messenger.messages[0].endsWith(services.store.location()));
        QCOMPARE(window[Field::Text6], u"7"_s);
        QCOMPARE(services.store.values.value(u"1_joueur"_s), u"5"_s);
        QVERIFY(window.levelsVisible());

        services.store.failSaves = false;
        window = openProblem(u"1_joueur"_s, u"2"_s, u"3"_s, u"5"_s, u"2"_s, window[Field::Text6]);
        quiz::okClicked(window, services.bundle());
        QCOMPARE(services.store.values.value(u"1_joueur"_s), u"9"_s);
        QCOMPARE(services.messenger.messages.size(), 1);
        // The history says which score was kept.
        QCOMPARE(services.history.answers.size(), 2);
        QVERIFY(!services.history.answers[0].scoreKept && services.history.answers[1].scoreKept);
    }

    void bandColours_data()
    {
        QTest::addColumn<double>("score");
        QTest::addColumn<std::optional<BgrColour>>("colour");
        const std::optional<BgrColour> none;
        QTest::addRow("1") << 1.0 << std::optional(kBands[0].colour);
        QTest::addRow("10") << 10.0 << std::optional(kBands[0].colour);
        QTest::addRow("11") << 11.0 << std::optional(kBands[1].colour);
        QTest::addRow("45") << 45.0 << std::optional(kBands[4].colour);
        QTest::addRow("81") << 81.0 << std::optional(kBands[8].colour);
        QTest::addRow("100") << 100.0 << std::optional(kBands[9].colour);
        QTest::addRow("0") << 0.0 << none;
        QTest::addRow("-5") << -5.0 << none;
        QTest::addRow("101") << 101.0 << none;
        QTest::addRow("7.5") << 7.5 << none;
        QTest::addRow("just above 10") << std::nextafter(10.0, 11.0) << none;
    }

    void bandColours()
    {
        QFETCH(double, score);
        QTEST(bandColour(score), "colour");
    }

    // A whole problem through both handlers: the level's addends, answered.
    void levelThenRightAnswer()
    {
        FakeServices services;
        services.store.values = {{u"3_joueur"_s, u"40"_s}};
        FakeWindow window;
        window[Field::Text1] = u"3_joueur"_s;
        services.random.draws = {0.5f, 0.75f};
        quiz::levelClicked(window, services.bundle(), kLevels[4]);
        QVERIFY(window.problemOpen());
        window[Field::Text4] =
            QString::number(window[Field::Text2].toInt() + window[Field::Text3].toInt());
        quiz::okClicked(window, services.bundle());
        QCOMPARE(window[Field::Text5], u"12502"_s);
        QCOMPARE(window[Field::Text6], u"48"_s);
        QCOMPARE(services.store.values.value(u"3_joueur"_s), u"48"_s);
        QCOMPARE(window.background(Painted::Form1), kBands[4].colour);
        QVERIFY(!window.problemOpen());
    }
};

QTEST_GUILESS_MAIN(TestScoring)
#include "tst_scoring.moc"
