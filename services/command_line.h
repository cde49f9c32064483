// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineParser>

#include <functional>
#include <optional>

// Reads the command line as both programs do, without a display. Qt's own
// options are single-dash words (-style fusion, -reverse): read as words,
// they can never spell -h or -v letter by letter. Answers -h/--help in
// French (asking `description` then) and -v/--version, with the status to
// end with; nothing when the program goes on, its own options in `parser`.
std::optional<int> answerHelpOrVersion(QCommandLineParser &parser, const QString &program,
                                       const std::function<QString()> &description);
