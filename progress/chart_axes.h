// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/chart_answers.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

// A score after an answer, at the time of the answer (UTC).
struct ScorePoint
{
    QDateTime when;
    double score = 0;
};

// The score axis: from `low` to `high`, labelled every `step`.
struct ScoreScale
{
    double low = 0;
    double high = 1;
    double step = 1;
};

// Round steps (1, 2 or 5 times a power of ten, at least 1: scores are whole
// points) that cover [lowest, highest] in at most `maxSteps` steps, ends on
// multiples of the step. A single value gets a point of room either side.
ScoreScale scoreScale(double lowest, double highest, int maxSteps);

// The points as drawn: all of them, or past `most` the last one of each
// local day, unless they are all of one day.
QList<ScorePoint> pointsShown(const QList<ScorePoint> &points, qsizetype most = kMostAnswersDrawn);

// The date format along the bottom: hours within a single local day, months
// over long spans, else days.
QString dateFormat(const QList<ScorePoint> &points);

// Which labels to write under `count` evenly spaced points over `width`,
// each label `labelWidth` wide: one where the text changes (a new day, a
// new month), and only as many as fit side by side without touching.
QList<qsizetype> dateTicks(const QStringList &labels, double width, double labelWidth);
