// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_view.h"
#include "history/progress_queries.h"

#include <QString>

// Pages an adult prints for a parents' meeting: A4 PDFs in French, drawn in
// black only, so that a school's black-and-white printer loses nothing.
// Each is written whole or not at all: a failed write leaves no half PDF, and
// an earlier report under the same name stays as it was. Each returns what
// went wrong as one French sentence naming the file, empty on success.

// One child's score over time, their levels and as many of their last
// answers as fit on the page. `period` is the period as the window names it.
QString writeChildReport(const QString &file, const QString &playerName, const QString &period,
                         const ProgressView &view);

// The class's mastery grid: a row per child, a column per level of the game,
// each cell's word with a mark that tells it without colour; rows go on over
// as many pages as they need, under the grid's header each time.
QString writeClassReport(const QString &file, const ClassView &view);
