// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/chart_axes.h"

#include <algorithm>
#include <cmath>

ScoreScale scoreScale(double lowest, double highest, int maxSteps)
{
    if (lowest > highest)
        std::swap(lowest, highest);
    if (highest - lowest < 1) {
        lowest -= 1;
        highest += 1;
    }
    const double wanted = (highest - lowest) / std::max(maxSteps, 1);
    double power = std::pow(10.0, std::floor(std::log10(wanted)));
    double step = 10 * power;
    for (const double factor : {1.0, 2.0, 5.0})
        if (factor * power >= wanted) {
            step = factor * power;
            break;
        }
    // Rounding up to the next round step may still leave one step too many
    // once both ends are pushed out to multiples of it.
    for (;;) {
        step = std::max(step, 1.0);
        const double low = std::floor(lowest / step) * step;
        const double high = std::ceil(highest / step) * step;
        if ((high - low) / step <= std::max(maxSteps, 1) + 0.5)
            return {low, high, step};
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        step *= mantissa < 1.5 ? 2.0 : mantissa < 3 ? 2.5 : 2.0;
    }
}

QList<ScorePoint> pointsShown(const QList<ScorePoint> &points, qsizetype most)
{
    if (points.size() <= most)
        return points;
    QList<ScorePoint> days;
    for (const ScorePoint &point : points) {
        if (!days.isEmpty() &&
            days.last().when.toLocalTime().date() == point.when.toLocalTime().date())
            days.last() = point;
        else
            days << point;
    }
    // Within a single day the day's last score alone would say nothing of
    // it: every answer stays.
    return days.size() > 1 ? days : points;
}

QString dateFormat(const QList<ScorePoint> &points)
{
    if (points.isEmpty())
        return QStringLiteral("dd/MM");
    const QDate first = points.first().when.toLocalTime().date();
    const QDate last = points.last().when.toLocalTime().date();
    if (first == last)
        return QStringLiteral("HH:mm");
    // Past half a year, days would need their year, and a month is what a
    // parent looks for over such a span.
    return first.daysTo(last) > 183 ? QStringLiteral("MM/yyyy") : QStringLiteral("dd/MM");
}

QList<qsizetype> dateTicks(const QStringList &labels, double width, double labelWidth)
{
    QList<qsizetype> ticks;
    const qsizetype count = labels.size();
    const auto x = [&](qsizetype i) {
        return count == 1 ? width / 2 : width * double(i) / double(count - 1);
    };
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0 && labels[i] == labels[i - 1])
            continue;
        if (!ticks.isEmpty() && x(i) - x(ticks.last()) < labelWidth)
            continue;
        ticks << i;
    }
    return ticks;
}
