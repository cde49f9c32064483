// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/progress_queries.h"

#include "history/csv_export.h"
#include "history/mastery.h"

#include <QSqlQuery>

#include <algorithm>
#include <limits>

ProgressQueries::ProgressQueries(OutboxStatus outboxStatus)
    : m_outboxStatus(std::move(outboxStatus))
{}

HistoryDatabase &ProgressQueries::history()
{
    if (!m_history)
        m_history = std::make_unique<HistoryDatabase>(QStringLiteral("additions-progress"));
    return *m_history;
}

void ProgressQueries::load(int request, const QString &player, const QDateTime &since)
{
    ProgressView view;
    view.request = request;
    view.players = players();
    view.levels = levels(player, since);
    // What an erasure would take, and the marks: the whole history,
    // whatever the period.
    const QMap<int, Tally> allLevels = since.isValid() ? levels(player, QDateTime()) : view.levels;
    for (const Tally &level : allLevels)
        view.playerAnswers += level.answers;
    view.recent = recentByLevel(player, allLevels);
    for (const Tally &level : std::as_const(view.levels))
        view.chart.answers += level.answers;
    view.last = lastAnswers(player, since, kLastAnswers);
    if (view.chart.answers > kMostAnswersDrawn)
        view.chart.rows = lastOfEachDay(player, since);
    // A single day's last answer alone would say nothing of it: every answer.
    if (view.chart.answers <= kMostAnswersDrawn || view.chart.rows.size() == 1)
        view.chart.rows = lastAnswers(player, since, std::numeric_limits<int>::max());
    std::reverse(view.chart.rows.begin(), view.chart.rows.end());
    view.problem = history().problem();
    view.setAside = history().setAside();
    if (m_outboxStatus)
        view.classStatus = m_outboxStatus(history());
    Q_EMIT loaded(view);
}

QStringList ProgressQueries::players()
{
    QSqlQuery query(history().connection());
    QStringList players;
    if (query.exec(QStringLiteral(
            "SELECT DISTINCT player FROM level_totals WHERE answers > 0 ORDER BY player")))
        while (query.next())
            players << query.value(0).toString();
    return players;
}

QMap<int, Tally> ProgressQueries::levels(const QString &player, const QDateTime &since)
{
    QSqlQuery query(history().connection());
    query.prepare(since.isValid()
                      ? QStringLiteral("SELECT bound, COUNT(*), SUM(is_right) FROM answers "
                                       "WHERE player = ? AND answered_at >= ? GROUP BY bound")
                      : QStringLiteral("SELECT bound, answers, right_answers FROM level_totals "
                                       "WHERE player = ? AND answers > 0"));
    query.addBindValue(player);
    if (since.isValid())
        query.addBindValue(storedTime(since));
    QMap<int, Tally> levels;
    if (query.exec())
        while (query.next())
            levels.insert(query.value(0).toInt(), {query.value(1).toInt(), query.value(2).toInt()});
    return levels;
}

QList<HistoryRow> ProgressQueries::lastAnswers(const QString &player, const QDateTime &since,
                                               int count)
{
    QSqlQuery query(history().connection());
    query.setForwardOnly(true);
    // Without a period, no condition on the time: the newest answers come
    // straight from the index in the order answered.
    query.prepare(QStringLiteral("SELECT %1 FROM answers WHERE player = ? %2 "
                                 "ORDER BY id DESC LIMIT ?")
                      .arg(QString::fromLatin1(kAnswerColumns),
                           since.isValid() ? QStringLiteral("AND answered_at >= ?") : QString()));
    query.addBindValue(player);
    if (since.isValid())
        query.addBindValue(storedTime(since));
    query.addBindValue(count);
    QList<HistoryRow> rows;
    if (query.exec())
        while (query.next())
            rows << rowOf(query);
    return rows;
}

// Newest first, a row per local day with answers: each a seek in the index
// by time for the last answer before the day after, so a few hundred days
// cost a few hundred seeks, however many answers they hold.
QList<HistoryRow> ProgressQueries::lastOfEachDay(const QString &player, const QDateTime &since)
{
    QSqlQuery query(history().connection());
    query.prepare(QStringLiteral("SELECT %1 FROM answers WHERE player = ? AND answered_at >= ? "
                                 "AND answered_at < ? ORDER BY answered_at DESC LIMIT 1")
                      .arg(QString::fromLatin1(kAnswerColumns)));
    QList<HistoryRow> days;
    // "~" sorts after any stored time, "0" before.
    const QString from = since.isValid() ? storedTime(since) : QStringLiteral("0");
    QString before = QStringLiteral("~");
    for (;;) {
        query.addBindValue(player);
        query.addBindValue(from);
        query.addBindValue(before);
        if (!query.exec() || !query.next())
            return days;
        days << rowOf(query);
        const QString dayStart = storedTime(days.last().when.toLocalTime().date().startOfDay());
        // A time the history could not read ends the walk rather than loop.
        if (dayStart.isEmpty() || dayStart >= before)
            return days;
        before = dayStart;
    }
}

// The player's answers newest first, until each level they played has its
// last 20 (or all it has): usually a few dozen rows, whatever the history's
// size.
QMap<int, Tally> ProgressQueries::recentByLevel(const QString &player,
                                                const QMap<int, Tally> &levels)
{
    QMap<int, Tally> recent;
    int wanted = 0;
    for (const Tally &level : levels)
        wanted += std::min(level.answers, kMasteryAnswers);
    QSqlQuery query(history().connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT bound, is_right FROM answers WHERE player = ? "
                                 "ORDER BY id DESC"));
    query.addBindValue(player);
    if (wanted == 0 || !query.exec())
        return recent;
    while (wanted > 0 && query.next()) {
        Tally &level = recent[query.value(0).toInt()];
        if (level.answers < kMasteryAnswers) {
            ++level.answers;
            level.right += query.value(1).toBool() ? 1 : 0;
            --wanted;
        }
    }
    return recent;
}

void ProgressQueries::clear(const QString &player)
{
    Q_EMIT done(history().clear(player) ? QString() : history().problem());
}

void ProgressQueries::exportTo(const QByteArray &file)
{
    Q_EMIT done(exportCsv(history(), file));
}

void ProgressQueries::dismissSetAside()
{
    history().dismissSetAside();
}
