// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

// Answers --help, --version and --exporter FICHIER (in French) without
// opening a window. Returns the exit status when the program should end
// there, nothing when a window should open: the Progrès window alone for
// --progres, else the game. Any other argument is left to Qt or ignored.
std::optional<int> answerCommandLine(int argc, char *argv[], bool *progressOnly);
