// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_database.h"

#include <QObject>

#include <memory>
#include <optional>

// What the Progrès window shows of one player over one period.
struct ProgressView
{
    int request = 0; // the request it answers
    QStringList players;
    QList<LevelSummary> levels;
    QList<HistoryRow> last;   // newest first
    QList<HistoryRow> chart;  // oldest first
    QString problem;          // why the history cannot be read or written
    QList<SetAside> setAside; // damaged histories no adult has dismissed
    QString classStatus;      // answers not yet on the class's server, and why
};

// The Progrès window's queries, on a thread of their own: over years of a
// classroom's answers, no query ever holds up the window. The history is
// opened by the first request.
class ProgressQueries final : public QObject
{
    Q_OBJECT

public:
    // The last answers listed, and the answers the chart draws: enough to see
    // a trend, few enough to come at once with years of answers.
    static constexpr int kLastAnswers = 20;
    static constexpr int kChartAnswers = 500;

    void load(int request, const QString &player, const QDateTime &since);
    void clear(const QString &player);
    void exportTo(const QByteArray &file);
    void dismissSetAside();

Q_SIGNALS:
    void loaded(const ProgressView &view);
    // The end of a clear or an export: empty when it succeeded, else why not.
    void done(const QString &failure);

private:
    HistoryDatabase &history();
    QString classStatus();
    std::unique_ptr<HistoryDatabase> m_history;
    // Asked once per window: whether this computer reaches its class's server.
    std::optional<QString> m_classProblem;
};
