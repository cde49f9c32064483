// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QByteArray>

// What the score store checks in the settings file beneath QSettings. QSettings
// parses a damaged file without complaint more often than not (a stray quote
// swallows the lines after it, NUL bytes move a group) and then rewrites it
// from what it understood, so the store looks at the bytes itself.
namespace settings_file {

// Whether every line is one QSettings reads as written: valid UTF-8, no
// control characters, and each line a group header, a comment or a
// key=value pair with balanced quotes.
bool isWellFormed(const QByteArray &contents);

// The lines of a damaged file that can be read as they were meant: control
// characters removed, lines that are still not well formed left out.
QByteArray salvage(const QByteArray &contents);

} // namespace settings_file
