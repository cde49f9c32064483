// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/answer_recorder.h"

#include <QDateTime>

// One answer as the history keeps it.
struct HistoryRow
{
    QDateTime when; // UTC; shown in local time
    AnswerRecord answer;
};
