// SPDX-License-Identifier: GPL-3.0-or-later
// What the store tests share: copies of the game's store in other processes
// (the score store probe), and the bytes of the files they leave.
#pragma once

#include "program_run.h"
#include "scratch_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The score store in another process, on the given configuration folder;
// run as another user, through setpriv, when a user id is given.
class Probe : public ProgramRun
{
public:
    Probe(const QString &config, const QStringList &arguments,
          QProcessEnvironment extra = QProcessEnvironment(), int user = -1)
        : ProgramRun(user == -1 ? probePath() : QStringLiteral("setpriv"),
                     user == -1 ? arguments : asUser(user) + arguments, withConfig(extra, config))
    {}

private:
    static QString probePath()
    {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/score_store_probe");
    }
    static QStringList asUser(int user)
    {
        const QString id = QString::number(user);
        return {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                QStringLiteral("--clear-groups"), probePath()};
    }
    static QProcessEnvironment withConfig(QProcessEnvironment extra, const QString &config)
    {
        extra.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        return extra;
    }
};

// What another run of the game reads under the key: the score, "<none>", or
// a note that the read failed.
inline QString readKey(const QString &config, const QString &key)
{
    Probe probe(config, {QStringLiteral("read"), key});
    return probe.succeeded() ? probe.output() : QStringLiteral("<read failed>");
}

inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}
