// SPDX-License-Identifier: GPL-3.0-or-later
// Another program, run by a test: the one way the tests start a process.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Started at once with the test's environment and the extra variables over
// it; killed if it is still running when the object goes.
class ProgramRun
{
public:
    ProgramRun(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &extra = QProcessEnvironment())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(extra);
        m_process.setProcessEnvironment(environment);
        m_process.start(program, arguments);
    }
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;
    ~ProgramRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Whether it ended within the time limit with exit code 0; killed when
    // it overruns.
    bool succeeded(int timeoutMs = 60000)
    {
        if (!m_process.waitForFinished(timeoutMs) && m_process.state() != QProcess::NotRunning) {
            m_timedOutAfterMs = timeoutMs;
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QString output() { return QString::fromUtf8(m_process.readAllStandardOutput()); }
    QProcess &process() { return m_process; }
    bool timedOut() const { return m_timedOutAfterMs > 0; }
    // Why it did not succeed, for a test's failure message.
    QString failure()
    {
        return timedOut()
                   ? QStringLiteral("killed: still running after %1 ms").arg(m_timedOutAfterMs)
                   : QStringLiteral("exit code %1: %2")
                         .arg(m_process.exitCode())
                         .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
    }

private:
    QProcess m_process;
    int m_timedOutAfterMs = 0;
};

struct ToolResult
{
    bool ok = false; // finished in time with exit code 0
    QByteArray output;
    QString error;
};

// Runs a command to its end, within a time limit, with the input given.
inline ToolResult runTool(const QString &program, const QStringList &arguments,
                          const QProcessEnvironment &extra = QProcessEnvironment(),
                          int timeoutMs = 5000, const QByteArray &input = {})
{
    ProgramRun run(program, arguments, extra);
    ToolResult result;
    if (!run.process().waitForStarted(timeoutMs)) {
        result.error = program + QStringLiteral(" did not start: ") + run.process().errorString();
        return result;
    }
    if (!input.isEmpty())
        run.process().write(input);
    run.process().closeWriteChannel();
    result.ok = run.succeeded(timeoutMs);
    result.output = run.process().readAllStandardOutput();
    if (!result.ok)
        result.error =
            program + u' ' + arguments.join(u' ') + QStringLiteral(" (") + run.failure() + u')';
    return result;
}

// The chosen columns of a CSV file as a French spreadsheet reads it (UTF-8
// with its byte-order mark, ';' between fields; Python's csv module, which
// follows the same rules), one line per row, the columns joined by '|'.
inline QStringList spreadsheetColumns(const QString &file, const QList<int> &columns)
{
    QStringList arguments{QStringLiteral("-c"),
                          QStringLiteral("import csv,sys\nfor r in csv.reader(open(sys.argv[1], "
                                         "encoding='utf-8-sig', newline=''), delimiter=';'): "
                                         "print('|'.join(r[int(c)] for c in sys.argv[2:]))"),
                          file};
    for (int column : columns)
        arguments << QString::number(column);
    return QString::fromUtf8(runTool(QStringLiteral("python3"), arguments).output)
        .split(u'\n', Qt::SkipEmptyParts);
}
