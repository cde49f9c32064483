// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <utility>

// libpq's service files: "[service]" sections of "key=value" lines.
using ServiceValues = QList<std::pair<QString, QString>>;

// A file's short path, in ASCII, where Windows' file system keeps one:
// libpq, OpenSSL and PostgreSQL's programs open files through the ANSI code
// page, which an account's name may be outside of. The path itself
// elsewhere.
QString ansiPath(const QString &path);

// OpenSSL's settings for this program and the programs it starts: a file
// beside them, which only whoever installed them may write (it need not
// exist). OpenSSL's own default on Windows is under C:\usr\local\ssl, a
// folder any account may create.
QString opensslSettingsFile();

// This account's service file ($PGSERVICEFILE, or libpq's own place), and
// the computer's, where libpq finds them.
QString userServiceFile();
QString systemServiceFile();
// Writes one service's section, replacing that service's and keeping the
// file's others, in one step: the file is whole at any moment. A new file
// gets `readableByAll` ? 0644 : 0600. False, with why in French, when the
// file could not be written.
bool writeServiceSection(const QString &file, const QString &service, const ServiceValues &values,
                         QString &problem, bool readableByAll = false);
