// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlError>
#include <QString>

// SQLite's result codes, and what an adult can do about them, in French.

// The file is damaged, or is not a database at all.
bool isDamaged(const QSqlError &error);
// One sentence naming the file, the cause and what to do.
QString sentenceFor(const QSqlError &error, const QString &file);
// A history the user may not write (the folder too, for SQLite's companions).
QString readOnlySentence(const QString &file);

// The companions SQLite keeps beside the history.
inline constexpr const char *kCompanions[] = {"-wal", "-shm"};
