// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "quiz/messenger.h"
#include "quiz/score_store.h"
#include "services/beeper.h"
#include "services/random_source.h"

// What a click handler may call besides the window.
struct QuizServices
{
    RandomSource &random;
    Beeper &beeper;
    ScoreStore &store;
    Messenger &messenger;
};
