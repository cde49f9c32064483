// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlError>

class QSqlDatabase;

// The history's tables as this version writes them. What only SQLite needs
// is here and in sqlite_problems.cpp, and nowhere else: the queries are the
// portable kind.

// Tunes the connection before it opens: SQLite's wait for another copy's
// lock, and whether the file is only read.
void tuneConnection(QSqlDatabase &db, bool readOnly);
// Creates what is missing, converting a history of an earlier version; the
// first error, if any.
QSqlError createOrUpgrade(QSqlDatabase &db);
