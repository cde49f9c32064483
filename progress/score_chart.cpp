// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/score_chart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// WCAG's relative luminance and contrast ratio.
double luminance(const QColor &colour)
{
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double first = luminance(a), second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// A blue that stands out from the background at 3:1 at least (WCAG 1.4.11),
// in a light theme or a dark one; else the text's own colour.
QColor lineColour(const QPalette &palette)
{
    const QColor background = palette.color(QPalette::Window);
    for (const QColor blue : {QColor(0x1E5AA8), QColor(0x8AB4F8)})
        if (contrast(blue, background) >= 3.0)
            return blue;
    return palette.color(QPalette::WindowText);
}

} // namespace

ScoreChart::ScoreChart()
{
    setMinimumSize(480, 200);
    setAccessibleName(QStringLiteral("courbe du score"));
}

void ScoreChart::setScores(const QList<double> &scores)
{
    m_scores = scores;
    setAccessibleDescription(scores.isEmpty() ? QStringLiteral("aucune réponse")
                                              : QStringLiteral("de %1 à %2 en %3 réponses")
                                                    .arg(scores.first())
                                                    .arg(scores.last())
                                                    .arg(scores.size()));
    update();
}

void ScoreChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(40, 10, -10, -20);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.bottomLeft(), area.topLeft());
    if (m_scores.isEmpty())
        return;
    const auto [low, high] = std::minmax_element(m_scores.begin(), m_scores.end());
    const double bottom = std::min(*low, 0.0), span = std::max(*high - bottom, 1.0);
    painter.drawText(QRectF(0, area.top() - 6, 36, 14), Qt::AlignRight,
                     QString::number(bottom + span));
    painter.drawText(QRectF(0, area.bottom() - 8, 36, 14), Qt::AlignRight, QString::number(bottom));
    QPolygonF line;
    const double steps = double(std::max<qsizetype>(m_scores.size() - 1, 1));
    // A single answer stands in the middle.
    const double first = m_scores.size() == 1 ? area.center().x() : area.left();
    for (qsizetype i = 0; i < m_scores.size(); ++i)
        line << QPointF(first + area.width() * double(i) / steps,
                        area.bottom() - area.height() * (m_scores[i] - bottom) / span);
    const QColor colour = lineColour(palette());
    painter.setPen(QPen(colour, 2));
    painter.drawPolyline(line);
    // One answer has no line to draw: it is a point.
    if (line.size() == 1) {
        painter.setBrush(colour);
        painter.drawEllipse(line.first(), 4, 4);
    }
}
