// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The status a program's main returns once everything is saved and closed.
// Under Wine 8.0 the game, once its threads had run, stays in the ending of
// its process after main, without a window, and never ends (seen each time
// in the installed game's test without this). There, and only there, the
// process is ended at once; on Windows and elsewhere the program ends
// normally, so that nothing that runs at exit is skipped.
int endOfProgram(int status);
