// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/service_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString ansiPath(const QString &path)
{
#ifdef Q_OS_WIN
    const std::wstring wide = QDir::toNativeSeparators(path).toStdWString();
    std::wstring shortPath(MAX_PATH, L'\0');
    const DWORD length = GetShortPathNameW(wide.c_str(), shortPath.data(), MAX_PATH);
    return length > 0 && length < MAX_PATH ? QString::fromWCharArray(shortPath.data(), int(length))
                                           : path;
#else
    return path;
#endif
}

QString opensslSettingsFile()
{
    return QDir::toNativeSeparators(ansiPath(QCoreApplication::applicationDirPath()) +
                                    QStringLiteral("/openssl.cnf"));
}

QString userServiceFile()
{
    if (qEnvironmentVariableIsSet("PGSERVICEFILE"))
        return qEnvironmentVariable("PGSERVICEFILE");
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/.pg_service.conf");
#else
    return QDir::homePath() + QStringLiteral("/.pg_service.conf");
#endif
}

QString systemServiceFile()
{
    if (qEnvironmentVariableIsSet("PGSYSCONFDIR"))
        return qEnvironmentVariable("PGSYSCONFDIR") + QStringLiteral("/pg_service.conf");
#ifdef Q_OS_WIN
    // Beside the programs, which only whoever installed them can write.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/pg_service.conf");
#else
    return QStringLiteral("/etc/postgresql-common/pg_service.conf");
#endif
}

bool writeServiceSection(const QString &file, const QString &service, const ServiceValues &values,
                         QString &problem, bool readableByAll)
{
    // One line a value: a line break in one (an address typed, a role a
    // server gave) would add settings of its own to the service.
    for (const auto &[key, value] : values)
        if (std::ranges::any_of(key + value,
                                [](QChar c) { return c.category() == QChar::Other_Control; })) {
            problem =
                QStringLiteral("« %1 » ne peut pas être écrit dans le fichier des services de "
                               "PostgreSQL %2 : il contient un saut de ligne ou un caractère de "
                               "contrôle.")
                    .arg(value, QDir::toNativeSeparators(file));
            return false;
        }
    QFile old(file);
    QByteArray kept;
    bool inside = false;
    if (old.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!old.atEnd()) {
            const QByteArray line = old.readLine();
            const QByteArray trimmed = line.trimmed();
            if (trimmed.startsWith('['))
                inside = trimmed == '[' + service.toUtf8() + ']';
            if (!inside)
                kept += line;
        }
        old.close();
    }
    if (!kept.isEmpty() && !kept.endsWith('\n'))
        kept += '\n';
    kept += '[' + service.toUtf8() + "]\n";
    for (const auto &[key, value] : values)
        kept += key.toUtf8() + '=' + value.toUtf8() + '\n';
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    const auto permissions =
        QFile::ReadOwner | QFile::WriteOwner |
        (readableByAll ? QFile::ReadGroup | QFile::ReadOther : QFile::Permissions());
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(permissions) ||
        out.write(kept) != kept.size() || !out.commit()) {
        problem = QStringLiteral("Le fichier des services de PostgreSQL %1 n'a pas pu être écrit "
                                 "(%2).")
                      .arg(QDir::toNativeSeparators(file), out.errorString());
        return false;
    }
    return true;
}
