// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/handlers.h"
#include "quiz/tables.h"
#include "quiz/window_state.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <deque>
#include <optional>

// A window made of plain values, in the design state at construction.
class FakeWindow final : public WindowState
{
public:
    FakeWindow()
    {
        texts.fill(QString());
        backgrounds.fill(kWhite);
        visible.fill(true);
        (*this)[Field::Text1] = QStringLiteral("BIENVENUE");
        setVisible(Toggled::Command2, false);
        setVisible(Toggled::Text8, false);
    }

    QString caption = kInformationClosed;
    std::optional<Field> focus;
    int bound = 0;

    QString text(Field field) const override { return texts[indexOf(field)]; }
    void setText(Field field, const QString &text) override { texts[indexOf(field)] = text; }
    BgrColour background(Painted control) const override { return backgrounds[indexOf(control)]; }
    void setBackground(Painted control, BgrColour colour) override
    {
        backgrounds[indexOf(control)] = colour;
    }
    void setVisible(Toggled control, bool shown) override { visible[indexOf(control)] = shown; }
    QString command18Caption() const override { return caption; }
    void setCommand18Caption(const QString &text) override { caption = text; }
    int problemBound() const override { return bound; }
    void setProblemBound(int drawnAt) override { bound = drawnAt; }
    void setFocus(Field field) override { focus = field; }
    // The verdicts are checked where a screen reader hears them: the window
    // test and the AT-SPI case.
    void announce(const QString &) override {}

    QString &operator[](Field field) { return texts[indexOf(field)]; }
    bool isVisible(Toggled control) const { return visible[indexOf(control)]; }
    bool problemOpen() const
    {
        return isVisible(Toggled::Command2) && background(Painted::Text7) == STAKE_GREEN;
    }
    bool levelsVisible() const
    {
        for (const Level &level : kLevels)
            if (!isVisible(level.button))
                return false;
        return true;
    }
    bool levelsHidden() const
    {
        for (const Level &level : kLevels)
            if (isVisible(level.button))
                return false;
        return true;
    }

    // Every property in one text, so a comparison that fails shows what changed.
    QString snapshot() const
    {
        QStringList parts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            parts << QStringLiteral("Text%1=%2").arg(i + 1).arg(texts[i]);
        parts << QStringLiteral("Text7.back=%1 Form1.back=%2")
                     .arg(background(Painted::Text7), 6, 16, QLatin1Char('0'))
                     .arg(background(Painted::Form1), 6, 16, QLatin1Char('0'));
        QString shown;
        for (bool v : visible)
            shown += v ? QLatin1Char('1') : QLatin1Char('0');
        parts << QStringLiteral("visible=") + shown << QStringLiteral("Command18=") + caption;
        return parts.join(QLatin1Char('|'));
    }

private:
    std::array<QString, kFieldCount> texts;
    std::array<BgrColour, kPaintedCount> backgrounds;
    std::array<bool, kToggledCount> visible;
};

// Hands out the draws it was given, then 0.
class ScriptedRandom final : public RandomSource
{
public:
    std::deque<float> draws;
    int reseeds = 0;
    int drawsSinceReseed = 0;
    int drawsWithoutReseed = 0;

    void reseed() override
    {
        ++reseeds;
        drawsSinceReseed = 0;
    }
    float draw() override
    {
        if (drawsSinceReseed++ > 0)
            ++drawsWithoutReseed;
        if (draws.empty())
            return 0.0f;
        const float r = draws.front();
        draws.pop_front();
        return r;
    }
};

class CountingBeeper final : public Beeper
{
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

class MemoryStore final : public ScoreStore
{
public:
    QMap<QString, QString> values;
    bool failSaves = false;
    bool failReads = false;
    int saves = 0;
    mutable int reads = 0;

    ScoreRead read(const QString &key) const override
    {
        ++reads;
        if (failReads)
            return {std::nullopt, false};
        const auto found = values.constFind(key);
        return {found == values.cend() ? std::nullopt : std::optional(*found), true};
    }
    bool save(const QString &key, const QString &value) override
    {
        ++saves;
        if (key.isEmpty() || failSaves)
            return false;
        values.insert(key, value);
        return true;
    }
    QString location() const override { return QStringLiteral("/memory/MyApp.conf"); }
};

class RecordingMessenger final : public Messenger
{
public:
    QStringList messages;
    void tell(const QString &message) override { messages << message; }
};

class MemoryHistory final : public AnswerRecorder
{
public:
    QList<AnswerRecord> answers;
    void record(const AnswerRecord &answer) override { answers << answer; }
};

// A fake for every service, bundled the way the handlers take them.
struct FakeServices
{
    ScriptedRandom random;
    CountingBeeper beeper;
    MemoryStore store;
    RecordingMessenger messenger;
    MemoryHistory history;
    QuizServices bundle() { return {random, beeper, store, messenger, history}; }
};

// The window's colour before a test's click: a colour of no band.
inline constexpr BgrColour kUnchanged = 0x123456;

// A problem as a level click leaves it: addends shown, answer typed, stake on
// green, the player's score in Text6.
inline FakeWindow openProblem(const QString &key, const QString &first, const QString &second,
                              const QString &answer, const QString &stake, const QString &score)
{
    FakeWindow window;
    window[Field::Text1] = key;
    window[Field::Text2] = first;
    window[Field::Text3] = second;
    window[Field::Text4] = answer;
    window[Field::Text6] = score;
    window[Field::Text7] = stake;
    window.setBackground(Painted::Text7, STAKE_GREEN);
    window.setBackground(Painted::Form1, kUnchanged);
    for (const Level &level : kLevels)
        window.setVisible(level.button, false);
    window.setVisible(Toggled::Command2, true);
    return window;
}
