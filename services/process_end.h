// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The status a program's main returns once everything is saved and closed.
// Under Wine 8, a program that had run a QThread now and then hung in the
// unloading of its libraries after main, leaving a process without a window
// that never ended; there, and only there, the process is ended at once.
// On Windows and elsewhere the program ends normally.
int endOfProgram(int status);
