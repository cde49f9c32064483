// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "quiz/quiz_services.h"
#include "quiz/tables.h"
#include "quiz/window_state.h"

// One routine per kind of button. Each reads what it needs from the window,
// and either completes, or changes nothing in the window or the store and
// tells the child what to do.
namespace quiz {

// A level button: poses a new problem.
void levelClicked(WindowState &window, const QuizServices &services, const Level &level);

// OK: judges the answer, scores it, stores the score and closes the problem.
void okClicked(WindowState &window, const QuizServices &services);

} // namespace quiz
