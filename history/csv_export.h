// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QByteArrayList>
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

// One answer's fields, and the header's names for them: an export of more
// than one computer inserts its own columns.
QByteArrayList csvAnswerFields(const HistoryRow &row);
QByteArrayList csvAnswerHeader();
// Text as a field: quoted where it holds a separator, and given a leading
// apostrophe where a spreadsheet would run it as a formula.
QByteArray csvText(const QString &text);

// Writes a CSV file as exportCsv() does: the header, then each row that
// `rows` gives the sink. `rows` returns why they could not all be read,
// empty when they could.
using CsvSink = std::function<void(const QByteArrayList &fields)>;
QString writeCsv(const QByteArray &file, const QByteArrayList &header,
                 const std::function<QString(const CsvSink &)> &rows);
