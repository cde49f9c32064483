// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

struct ToolResult
{
    bool ok = false; // finished in time with exit code 0
    QByteArray output;
    QString error;
};

// Runs a command to its end, within a time limit; the process is killed if
// it overruns.
ToolResult runTool(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment, int timeoutMs = 5000,
                   const QByteArray &input = {});

// Polls the condition until it holds or the time limit passes.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs, int intervalMs = 40);

// The programs the suite needs that are not on this machine, space-separated.
QString missingTools();

// The environment of the X server the tests run on (scripts/x-session
// starts it and sets DISPLAY).
QProcessEnvironment xEnvironment();

// Asks the window to close, as a window manager's close button does.
bool sendDeleteWindow(quint32 window);
