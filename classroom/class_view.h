// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QMap>

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

// What a teacher sees of their classes.
struct ClassView
{
    QList<ClassChild> children;
    QMap<int, Tally> carries; // by the number of carries the sums make
    QString problem;          // why the class cannot be shown, in French
    QString details;          // the library's words behind it
};

// One child at a glance: their answers for the chart (oldest first, the
// last ones only), and how they do by the number of carries of the sums.
struct ChildDetail
{
    QString machine;
    QString player;
    QList<HistoryRow> answers;
    QMap<int, Tally> carries;
    QString problem; // why it cannot be shown, in French
};
