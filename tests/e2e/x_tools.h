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

// A private X server for the suite, stopped by its PID when destroyed.
class XServer
{
public:
    ~XServer();
    bool start(QString *why);
    QString display() const { return m_display; }
    QProcessEnvironment environment() const;

private:
    QProcess m_xvfb;
    QString m_display;
};

// Asks the window to close, as a window manager's close button does.
bool sendDeleteWindow(const QString &display, quint32 window);
