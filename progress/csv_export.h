// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class HistoryDatabase;

// Writes every answer of the history to `file` (the name as the system
// spells it, whatever its bytes) as a French spreadsheet opens it: UTF-8
// with a byte-order mark, ';' between fields, CR LF. Text that a child or a
// parent typed can never become a formula; the program's own numbers stay
// numbers. Only a new or a regular file is written, never the history
// itself, nor through a link another user planted in a shared folder.
// Returns what went wrong as one French sentence, empty on success.
QString exportCsv(HistoryDatabase &history, const QByteArray &file);

// One field as it is written: quoted where it holds a separator, and text
// that a spreadsheet would run as a formula given a leading apostrophe.
QByteArray csvText(const QString &text);
// A number the program wrote as a number; anything else (a hand-edited
// score) as text.
QByteArray csvNumber(const QString &text);

// Writes a CSV file as exportCsv() does: the header, then the lines that
// `lines` gives the sink, each without its line end. `lines` returns why
// they could not all be read, empty when they could.
using CsvSink = std::function<void(const QByteArray &line)>;
QString writeCsv(const QByteArray &file, const QByteArray &header,
                 const std::function<QString(const CsvSink &)> &lines);
