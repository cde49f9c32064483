// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/tables.h"
#include "quiz/window_state.h"
#include "services/answer_recorder.h"
#include "services/beeper.h"
#include "services/messenger.h"
#include "services/random_source.h"
#include "services/score_store.h"

// What a click handler may call besides the window.
struct QuizServices
{
    RandomSource &random;
    Beeper &beeper;
    ScoreStore &store;
    Messenger &messenger;
    AnswerRecorder &history;
};

// One routine per kind of button. Each reads what it needs from the window,
// and either completes, or changes nothing in the window or the store and
// tells the child what to do.
namespace quiz {

// A level button: poses a new problem.
void levelClicked(WindowState &window, const QuizServices &services, const Level &level);

// OK: judges the answer, scores it, stores the score and closes the problem.
void okClicked(WindowState &window, const QuizServices &services);

// A player button: the scores are now kept under that player's key.
void playerClicked(WindowState &window, const Player &player);

// The reset button: the current player's score back to 0, kept at once.
void resetClicked(WindowState &window, const QuizServices &services);

// "POURQUOI   ?" shows the information text; "FERMER" hides it again.
void informationClicked(WindowState &window);

} // namespace quiz
