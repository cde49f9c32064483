// Additions - a game for practising addition. GPL-3.0-or-later.
#include "quiz/handlers.h"

#include "quiz/messages.h"
#include "services/conversions.h"

#include <algorithm>

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

void refuse(WindowState &window, const QuizServices &services, Field where,
            const QString &message)
{
    services.messenger.tell(message);
    window.setFocus(where);
}

} // namespace

void levelClicked(WindowState &window, const QuizServices &services, const Level &level)
{
    const std::optional<double> stakeBefore = lenientValue(window.text(Field::Text7));
    if (!stakeBefore)
        return refuse(window, services, Field::Text7, messages::numberTooLarge());

    window.setText(Field::Text2, singleToText(drawAddend(services.random, level.bound)));
    window.setText(Field::Text3, singleToText(drawAddend(services.random, level.bound)));
    window.setText(Field::Text4, QString());
    window.setFocus(Field::Text4);
    window.setText(Field::Text7, numberToText(*stakeBefore + level.stake));
    window.setBackground(Painted::Text7, STAKE_GREEN);

    const QString key = window.text(Field::Text1);
    if (isKnownKey(key))
        window.setText(Field::Text6, services.store.read(key));

    for (const Level &each : kLevels)
        window.setVisible(each.button, false);
    window.setVisible(Toggled::Command2, true);
}

} // namespace quiz
