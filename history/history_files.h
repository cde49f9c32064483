// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The history's file and folder, before SQLite opens them.

// Makes them exist and be the user's own: SQLite gives its companions the
// file's mode and, run as root, its owner. False when the history cannot
// be used at all; `problem` says, in French, what stands in the way of
// writing it, even when it can still be read.
bool prepareHistoryFiles(const QString &file, QString *problem);

// Renames a damaged history and its companions beside it, never deleting
// them: a log left beside a new file would be replayed into it. The name it
// now has, or nothing when it could not be moved.
QString setDamagedAside(const QString &file);
