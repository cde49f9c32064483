// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/mastery.h"

QString mastery(const Tally &last)
{
    if (last.answers <= 0)
        return QStringLiteral("pas commencé");
    const int share = 100 * last.right / last.answers;
    if (share >= 90 && last.answers >= kMasteryAnswers)
        return QStringLiteral("maîtrisé");
    return share >= 70 ? QStringLiteral("familier") : QStringLiteral("commencé");
}
