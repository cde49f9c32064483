// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QString>

// A child's mark at a level is read from their last answers there: the
// class's server keeps the last 20 of each (classe.sql).
inline constexpr int kMasteryAnswers = 20;
// The shares of right answers, in percent, that make a level familiar and
// mastered.
inline constexpr int kFamiliarPercent = 70;
inline constexpr int kMasteredPercent = 90;

enum class Mastery { NotStarted, Started, Familiar, Mastered };

// Not started; started (under 70 % right); familiar (70 to 89 %); mastered
// (90 % or more of the last 20: fewer answers cannot show it).
inline Mastery masteryOf(const Tally &last)
{
    if (last.answers <= 0)
        return Mastery::NotStarted;
    const int share = 100 * last.right / last.answers;
    if (share >= kMasteredPercent && last.answers >= kMasteryAnswers)
        return Mastery::Mastered;
    return share >= kFamiliarPercent ? Mastery::Familiar : Mastery::Started;
}

inline QString masteryName(Mastery level)
{
    switch (level) {
    case Mastery::NotStarted:
        return QStringLiteral("pas commencé");
    case Mastery::Started:
        return QStringLiteral("commencé");
    case Mastery::Familiar:
        return QStringLiteral("familier");
    case Mastery::Mastered:
        break;
    }
    return QStringLiteral("maîtrisé");
}

inline QString mastery(const Tally &last)
{
    return masteryName(masteryOf(last));
}
