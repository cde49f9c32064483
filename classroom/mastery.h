// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QString>

// A child's mark at a level is read from their last answers there.
inline constexpr int kMasteryAnswers = 20;

// "pas commencé", "commencé" (under 70 % right), "familier" (70 to 89 %),
// "maîtrisé" (90 % or more of the last 20: fewer answers cannot show it).
QString mastery(const Tally &last);
