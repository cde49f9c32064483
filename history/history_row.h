// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/answer_recorder.h"
#include "services/boot_clock.h"

#include <QDateTime>

class QSqlQuery;

// One answer as the history keeps it.
struct HistoryRow
{
    QDateTime when; // UTC; shown in local time
    AnswerRecord answer;
    // The same moment on the clock since start-up, which sets `when` right
    // when the calendar clock was wrong as the child answered.
    BootInstant boot{};
};

// How many answers, and how many of them right: of a level, of a number of
// carries, of a child's last answers.
struct Tally
{
    int answers = 0;
    int right = 0;
};

// An answer's columns, in the order rowOf() reads them from `first` on.
inline constexpr const char *kAnswerColumns = "answered_at, player, bound, first_number, "
                                              "second_number, answer, is_right, stake, "
                                              "score_after, score_kept";
HistoryRow rowOf(const QSqlQuery &query, int first = 0);

// Times are kept as ISO 8601 text in UTC, which sorts as time does.
inline QString storedTime(const QDateTime &when)
{
    return when.toUTC().toString(Qt::ISODateWithMs);
}
