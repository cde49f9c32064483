// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlError>
#include <QString>

// The history's file on the disk: made private before SQLite opens it, what
// goes wrong with it said in French, set aside when it is damaged.

// Makes them exist and be the user's own: SQLite gives its companions the
// file's mode and, run as root, its owner. False when the history cannot
// be used at all; `problem` says, in French, what stands in the way of
// writing it, even when it can still be read.
bool prepareHistoryFiles(const QString &file, QString *problem);

// Renames a damaged history and its companions beside it, never deleting
// them: a log left beside a new file would be replayed into it. The name it
// now has, or nothing when it could not be moved.
QString setDamagedAside(const QString &file);

// The file is damaged, or is not a database at all.
bool isDamaged(const QSqlError &error);
// One sentence naming the file, the cause (from SQLite's result code) and
// what to do.
QString sentenceFor(const QSqlError &error, const QString &file);
