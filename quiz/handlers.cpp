// SPDX-License-Identifier: GPL-3.0-or-later
#include "quiz/handlers.h"

#include "quiz/sentences.h"
#include "quiz/tables.h"
#include "services/conversions.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace conversions;

namespace quiz {
namespace {

bool isKnownKey(const QString &key)
{
    return std::find(kKnownKeys.begin(), kKnownKeys.end(), key) != kKnownKeys.end();
}

// A whole number from 1 to bound, both included.
float drawAddend(RandomSource &random, int bound)
{
    random.reseed();
    const double r = static_cast<double>(random.draw());
    return static_cast<float>(integerPart(r * bound) + 1.0);
}

// A number as a short holds it: rounded, and stopped at the end of the
// range it passes.
std::int16_t heldToShort(double value)
{
    using Limits = std::numeric_limits<std::int16_t>;
    const double rounded = std::nearbyint(value);
    if (!(rounded > Limits::min()))
        return Limits::min();
    return rounded < Limits::max() ? static_cast<std::int16_t>(rounded) : Limits::max();
}

void showLevels(WindowState &window, bool shown)
{
    for (const Level &level : kLevels)
        window.setVisible(level.button, shown);
    window.setVisible(Toggled::Command2, !shown);
}

void refuse(WindowState &window, const QuizServices &services, Field where, const QString &message)
{
    services.messenger.tell(message);
    window.setFocus(where);
}

} // namespace

void levelClicked(WindowState &window, const QuizServices &services, const Level &level)
{
    const std::optional<double> stakeBefore = lenientValue(window.text(Field::Text7));
    if (!stakeBefore)
        return refuse(window, services, Field::Text7, sentences::numberTooLarge());
    const QString key = window.text(Field::Text1);
    const ScoreRead stored = isKnownKey(key) ? services.store.read(key) : ScoreRead{};
    if (!stored.readable)
        return refuse(window, services, Field::Text1,
                      sentences::scoreNotRead(services.store.location()));

    window.setText(Field::Text2, singleToText(drawAddend(services.random, level.bound)));
    window.setText(Field::Text3, singleToText(drawAddend(services.random, level.bound)));
    // Focused before it is emptied: a screen reader that learns of the
    // emptying first takes the box for focused already, and stays silent.
    window.setFocus(Field::Text4);
    window.setText(Field::Text4, QString());
    window.setText(Field::Text7, numberToText(*stakeBefore + level.stake));
    window.setBackground(Painted::Text7, STAKE_GREEN);

    if (isKnownKey(key))
        window.setText(Field::Text6, stored.score.value_or(kNoScore));

    showLevels(window, false);
    window.setProblemBound(level.bound);
    window.announce(sentences::problem(window.text(Field::Text2), window.text(Field::Text3)));
}

void okClicked(WindowState &window, const QuizServices &services)
{
    // Everything is read and checked first, so that an answer the game cannot
    // use leaves the problem open and the window and the store untouched.
    const std::optional<double> answer = strictValue(window.text(Field::Text4));
    if (!answer)
        return refuse(window, services, Field::Text4, sentences::answerNotANumber());
    const QString key = window.text(Field::Text1);
    if (key.isEmpty())
        return refuse(window, services, Field::Text1, sentences::choosePlayer());

    const std::optional<double> first = lenientValue(window.text(Field::Text2));
    const std::optional<double> second = lenientValue(window.text(Field::Text3));
    // A sum too large for a double is the first number's fault: that is the
    // box the child is sent back to.
    if (!first || !std::isfinite(*first + second.value_or(0.0)))
        return refuse(window, services, Field::Text2, sentences::numberTooLarge());
    if (!second)
        return refuse(window, services, Field::Text3, sentences::numberTooLarge());
    const std::optional<double> stake = lenientValue(window.text(Field::Text7));
    if (!stake)
        return refuse(window, services, Field::Text7, sentences::numberTooLarge());
    const std::optional<double> score = lenientValue(window.text(Field::Text6));
    if (!score)
        return refuse(window, services, Field::Text6, sentences::numberTooLarge());

    const QString sumText = numberToText(*first + *second);
    const bool right =
        lenientValue(sumText) == answer && window.background(Painted::Text7) == STAKE_GREEN;
    const double newScore = right ? *score + *stake : *score - *stake;
    if (!std::isfinite(newScore))
        return refuse(window, services, Field::Text6, sentences::numberTooLarge());

    // The score is stored as a short. Rather than fail once a score passes
    // 32767 (a few thousand right answers at the top level) or -32768, it is
    // held at that end, and the window shows what was stored.
    const QString computed = numberToText(newScore);
    const std::optional<std::int16_t> inRange = strictShort(computed);
    const std::int16_t stored = inRange ? *inRange : heldToShort(newScore);
    const QString scoreText = inRange ? computed : shortToText(stored);

    // The game's own order of steps: the sum and the score are on screen
    // before the beeps, and Text7 turns white here and again as the problem
    // closes.
    window.setText(Field::Text5, sumText);
    if (right) {
        window.setText(Field::Text6, scoreText);
        services.beeper.beep();
    } else {
        for (int i = 1; i <= 3; ++i)
            services.beeper.beep();
        window.setText(Field::Text6, scoreText);
    }
    window.setBackground(Painted::Text7, kWhite);

    // The reload shows the score exactly as the store now holds it (what was
    // just saved, should the store not read back). When the save failed, the
    // window keeps the score it computed.
    const QString savedText = shortToText(stored);
    const bool saved = services.store.save(key, savedText);
    if (saved && isKnownKey(key)) {
        const ScoreRead reloaded = services.store.read(key);
        window.setText(Field::Text6,
                       reloaded.readable ? reloaded.score.value_or(kNoScore) : savedText);
    }

    if (const std::optional<double> shown = lenientValue(window.text(Field::Text6)))
        if (const std::optional<BgrColour> colour = bandColour(*shown))
            window.setBackground(Painted::Form1, *colour);

    showLevels(window, true);
    window.setBackground(Painted::Text7, kWhite);
    window.setText(Field::Text7, shortToText(0));
    window.announce(sentences::verdict(right, window.text(Field::Text2), window.text(Field::Text3),
                                       sumText, window.text(Field::Text6)));
    services.history.record({key, window.problemBound(), window.text(Field::Text2),
                             window.text(Field::Text3), window.text(Field::Text4), right,
                             heldToShort(*stake), window.text(Field::Text6), saved});
    window.setProblemBound(0);
    if (!saved)
        services.messenger.tell(sentences::scoreNotKept(services.store.location()));
}

void playerClicked(WindowState &window, const Player &player)
{
    window.setText(Field::Text1, player.key);
    window.announce(player.spoken);
}

void resetClicked(WindowState &window, const QuizServices &services)
{
    const QString key = window.text(Field::Text1);
    if (key.isEmpty())
        return refuse(window, services, Field::Text1, sentences::choosePlayer());
    window.setText(Field::Text6, shortToText(0));
    if (!services.store.save(key, window.text(Field::Text6)))
        services.messenger.tell(sentences::scoreNotKept(services.store.location()));
}

void informationClicked(WindowState &window)
{
    const QString caption = window.command18Caption();
    if (caption == kInformationClosed) {
        window.setCommand18Caption(kInformationOpen);
        window.setVisible(Toggled::Text8, true);
    } else if (caption == kInformationOpen) {
        window.setCommand18Caption(kInformationClosed);
        window.setVisible(Toggled::Text8, false);
    }
}

} // namespace quiz
