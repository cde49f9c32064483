// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QList>

// Over that many answers a line of every answer is a smear: a day's last
// score stands for the day.
inline constexpr qsizetype kMostAnswersDrawn = 400;

// What a score chart draws of a period: every answer while there are at
// most kMostAnswersDrawn, else each local day's last answer (all of them
// when the period is a single day). Years of answers then come as a few
// hundred rows.
struct ChartAnswers
{
    QList<HistoryRow> rows; // oldest first
    qsizetype answers = 0;  // how many answers of the period they stand for
};
