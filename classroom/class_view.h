// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/chart_answers.h"
#include "history/history_row.h"

#include <QMap>

#include <optional>

// One child of the class: a computer and a player key, never a name.
struct ClassChild
{
    QString machine;
    QString player;
    QString name; // the teacher's, kept on their machine; often empty
    Tally total;
    QDateTime last;          // UTC
    QMap<int, Tally> recent; // by level's bound: the last answers there
};

// One child at a glance: every answer for the chart (or each day's last),
// their last answers, and how they do by the number of carries of the sums.
struct ChildDetail
{
    QString machine;
    QString player;
    ChartAnswers chart;
    QList<HistoryRow> last; // newest first
    QMap<int, Tally> carries;
    QString problem; // why it cannot be shown, in French
};

// What a teacher sees of their classes. A server that does not answer
// leaves the class as it was last read, with since when it is away.
struct ClassView
{
    QList<ClassChild> children;
    QStringList classes;      // the teacher's, by name
    QMap<int, Tally> carries; // by the number of carries the sums make
    // The child the teacher chose, read in the same moment as the class, so
    // that their answers and their row agree.
    std::optional<ChildDetail> chosen;
    QDateTime readAt;    // local time; invalid when the class was never read
    QDateTime awaySince; // local time; invalid while the server answers
    QString problem;     // why the class cannot be shown, in French
    QString details;     // the library's words behind it
};
