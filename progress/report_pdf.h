// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_view.h"
#include "history/progress_queries.h"

#include <QString>

// Pages an adult prints for a parents' meeting: A4 PDFs in French, drawn in
// black only, so that a school's black-and-white printer loses nothing, and
// "page 2 / 3" under each page. Tables that run over pages have their header
// again on each. Each is written whole or not at all: a failed write leaves
// no half PDF, and an earlier report under the same name stays as it was.
// Each returns what went wrong as one French sentence naming the file, empty
// on success.

// One child's score over the period, their mark and answers at each level
// and their last answers. `period` is the period as the window names it.
QString writeChildReport(const QString &file, const QString &playerName, const QString &period,
                         const ProgressView &view);

// The class's mastery grid: a row per child, a column per level of the game,
// each cell's mark and word, then their answers, right answers and last
// activity. `classes` names the classes it shows.
QString writeClassReport(const QString &file, const ClassView &view,
                         const QStringList &classes = {});

// One child of the class as the Classe tab shows them: their marks, totals
// and last activity, the chart of their answers, their sums by carries and
// their last answers.
QString writeClassChildReport(const QString &file, const ClassChild &child,
                              const ChildDetail &detail, const QStringList &classes = {});
