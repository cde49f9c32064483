// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/progress_queries.h"

#include "progress/csv_export.h"

#include <algorithm>

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
    view.players = history().players();
    view.levels = history().levels(player, since);
    view.last = history().lastAnswers(player, since, kLastAnswers);
    view.chart = history().lastAnswers(player, since, kChartAnswers);
    std::reverse(view.chart.begin(), view.chart.end());
    view.problem = history().problem();
    view.setAside = history().setAside();
    Q_EMIT loaded(view);
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
