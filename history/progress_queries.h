// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/chart_answers.h"
#include "history/history_database.h"
#include "services/notice.h"

#include <QMap>
#include <QObject>

#include <functional>
#include <memory>

// What the Progrès window shows of one player over one period.
struct ProgressView
{
    int request = 0; // the request it answers
    QStringList players;
    QMap<int, Tally> levels;  // by the level's bound
    QMap<int, Tally> recent;  // by the level's bound: its last answers, whatever the period
    QList<HistoryRow> last;   // newest first
    ChartAnswers chart;       // every answer of the period, or each day's last
    QString problem;          // why the history cannot be read or written
    QList<SetAside> setAside; // damaged histories no adult has dismissed
    Notice classStatus;       // answers not yet on the class's server, and why
    int playerAnswers = 0;    // the player's answers in the whole history
};

// The Progrès window's queries, on a thread of their own: over years of a
// classroom's answers, no query ever holds up the window. The history is
// opened by the first request.
class ProgressQueries final : public QObject
{
    Q_OBJECT

public:
    // The last answers listed.
    static constexpr int kLastAnswers = 20;

    // What waits for a class's server, and why, as one French sentence;
    // none where this computer has no class.
    using OutboxStatus = std::function<Notice(HistoryDatabase &)>;
    explicit ProgressQueries(OutboxStatus outboxStatus = {});

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
    // The queries take a period's start; an invalid one means all.
    QStringList players();
    QMap<int, Tally> levels(const QString &player, const QDateTime &since);
    QList<HistoryRow> lastAnswers(const QString &player, const QDateTime &since, int count);
    QList<HistoryRow> lastOfEachDay(const QString &player, const QDateTime &since);
    QMap<int, Tally> recentByLevel(const QString &player, const QMap<int, Tally> &levels);

    std::unique_ptr<HistoryDatabase> m_history;
    OutboxStatus m_outboxStatus;
};
