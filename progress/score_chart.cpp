// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/score_chart.h"

#include <QPainter>

#include <algorithm>

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
    for (qsizetype i = 0; i < m_scores.size(); ++i)
        line << QPointF(area.left() + area.width() * double(i) / steps,
                        area.bottom() - area.height() * (m_scores[i] - bottom) / span);
    const QColor blue(0x1E5AA8);
    painter.setPen(QPen(blue, 2));
    painter.drawPolyline(line);
    // One answer has no line to draw: it is a point.
    if (line.size() == 1) {
        painter.setBrush(blue);
        painter.drawEllipse(line.first(), 4, 4);
    }
}
