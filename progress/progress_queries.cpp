// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/progress_queries.h"

#include "history/class_server.h"
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
    // One query for both: the last answers are the newest of the chart's.
    view.chart = history().lastAnswers(player, since, kChartAnswers);
    view.last = view.chart.mid(0, kLastAnswers);
    std::reverse(view.chart.begin(), view.chart.end());
    view.problem = history().problem();
    view.setAside = history().setAside();
    view.classStatus = classStatus();
    Q_EMIT loaded(view);
}

QString ProgressQueries::classStatus()
{
    if (!ClassServer::configured())
        return QString();
    if (!m_classProblem) {
        ClassServer server(QStringLiteral("progress-class"));
        m_classProblem = server.reachable() ? QString() : server.problem();
    }
    const int unsent = history().unsentCount();
    if (unsent == 0)
        return QString();
    return QStringLiteral("%1 réponse(s) de cet ordinateur attendent d'être envoyées au serveur "
                          "de la classe. %2")
        .arg(unsent)
        .arg(*m_classProblem)
        .trimmed();
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
