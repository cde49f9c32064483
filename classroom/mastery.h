// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QString>

// A child's mark at a level is read from their last answers there: the
// class's server keeps the last 20 of each (classe.sql).
inline constexpr int kMasteryAnswers = 20;

// "pas commencé", "commencé" (under 70 % right), "familier" (70 to 89 %),
// "maîtrisé" (90 % or more of the last 20: fewer answers cannot show it).
inline QString mastery(const Tally &last)
{
    if (last.answers <= 0)
        return QStringLiteral("pas commencé");
    const int share = 100 * last.right / last.answers;
    if (share >= 90 && last.answers >= kMasteryAnswers)
        return QStringLiteral("maîtrisé");
    return share >= 70 ? QStringLiteral("familier") : QStringLiteral("commencé");
}
