// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "quiz/window_state.h"

#include <optional>

// The window's colour for a score: the colour of the band holding it, or
// none for a score in no band (0, negative, above 100, or not whole), which
// leaves the window as it is.
std::optional<BgrColour> bandColour(double score);
