// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

// Answers --help and --version (in French) without opening a window.
// Returns the exit status when the program should end there, nothing when
// the game should start. Any other argument is left to Qt or ignored.
std::optional<int> answerCommandLine(int argc, char *argv[]);
