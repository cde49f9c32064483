// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/score_chart.h"

#include "progress/answer_tables.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

const QString kNothing = QStringLiteral("Aucune réponse pour ce joueur sur cette période.");
constexpr double kTick = 4;    // length of a tick mark
constexpr double kGap = 6;     // between a label and its tick, and around the chart
constexpr double kMarker = 3;  // radius of an answer's point
constexpr double kCurrent = 6; // radius of the ring round the point reached

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

QString scoreText(double score)
{
    return QLocale(QLocale::French, QLocale::France).toString(score, 'f', 0);
}

// Where everything goes in a frame at a font. The points stand one after
// the other in the order of the answers, not at their times: a child plays
// in bursts, thirty answers in ten minutes then nothing for three days, and
// on a time axis each session would be a vertical smear between long empty
// stretches. In order, every answer gets the same room and the dates
// underneath still say when each stretch was played.
struct Layout
{
    QRectF area;
    ScoreScale scale;
    QStringList dates; // each point's label along the bottom
    QList<qsizetype> ticks;
    double dateWidth = 0;
    qsizetype count = 0;

    double x(qsizetype i) const
    {
        return count == 1 ? area.center().x()
                          : area.left() + area.width() * double(i) / double(count - 1);
    }
    double y(double score) const
    {
        return area.bottom() - area.height() * (score - scale.low) / (scale.high - scale.low);
    }
};

Layout layoutOf(const QList<ScorePoint> &points, const QRectF &frame, const QFontMetricsF &metrics,
                double unit)
{
    Layout layout;
    layout.count = points.size();
    const QString format = dateFormat(points);
    for (const ScorePoint &point : points) {
        layout.dates << point.when.toLocalTime().toString(format);
        if (layout.dates.size() == 1 ||
            layout.dates.last() != layout.dates[layout.dates.size() - 2])
            layout.dateWidth =
                std::max(layout.dateWidth, metrics.horizontalAdvance(layout.dates.last()));
    }
    // Labels are centred on their lines and ticks, so half a label overhangs.
    const double gap = kGap * unit, current = kCurrent * unit;
    const double top = std::max(metrics.height() / 2, current) + gap;
    const double bottom = kTick * unit + gap + metrics.height();
    const double rows = frame.height() - top - bottom;
    const auto [low, high] = std::minmax_element(
        points.begin(), points.end(),
        [](const ScorePoint &a, const ScorePoint &b) { return a.score < b.score; });
    // A label every two lines of text leaves a line's room between them.
    layout.scale =
        scoreScale(low->score, high->score, std::max(1, int(rows / (2 * metrics.height()))));
    double scoreWidth = 0;
    for (double score = layout.scale.low; score <= layout.scale.high + layout.scale.step / 2;
         score += layout.scale.step)
        scoreWidth = std::max(scoreWidth, metrics.horizontalAdvance(scoreText(score)));
    const double left = std::max(scoreWidth + kTick * unit + 2 * gap, layout.dateWidth / 2 + gap);
    const double right = std::max(layout.dateWidth / 2, current) + gap;
    layout.area =
        QRectF(frame.left() + left, frame.top() + top, frame.width() - left - right, rows);
    layout.ticks = dateTicks(layout.dates, layout.area.width(),
                             layout.dateWidth + metrics.horizontalAdvance(QStringLiteral("M")));
    return layout;
}

} // namespace

void drawScores(QPainter &painter, const QRectF &frame, const QList<ScorePoint> &points,
                const ChartInk &ink, double unit, qsizetype current)
{
    const QFontMetricsF metrics(painter.font(), painter.device());
    const Layout layout = layoutOf(points, frame, metrics, unit);
    const QRectF &area = layout.area;
    const ScoreScale &scale = layout.scale;
    const double tick = kTick * unit;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // The score axis: a faint line at each round step, its label at its left.
    QColor faint = ink.text;
    faint.setAlphaF(0.2f);
    for (double score = scale.low; score <= scale.high + scale.step / 2; score += scale.step) {
        const double y = layout.y(score);
        painter.setPen(QPen(faint, unit));
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(QPen(ink.text, unit));
        painter.drawLine(QPointF(area.left() - tick, y), QPointF(area.left(), y));
        painter.drawText(QRectF(frame.left(), y - metrics.height() / 2,
                                area.left() - frame.left() - tick - kGap * unit, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, scoreText(score));
    }
    painter.drawLine(area.bottomLeft(), area.topLeft());
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    // Below zero a score has been lost: the zero line says where that starts.
    if (scale.low <= 0 && scale.high >= 0) {
        painter.setPen(QPen(ink.text, 2 * unit));
        painter.drawLine(QPointF(area.left(), layout.y(0)), QPointF(area.right(), layout.y(0)));
    }

    // The dates along the bottom.
    painter.setPen(QPen(ink.text, unit));
    for (const qsizetype i : layout.ticks) {
        const double x = layout.x(i);
        painter.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + tick));
        painter.drawText(QRectF(x - layout.dateWidth / 2, area.bottom() + tick + kGap * unit / 2,
                                layout.dateWidth, metrics.height()),
                         Qt::AlignHCenter | Qt::AlignTop, layout.dates[i]);
    }

    QPolygonF line;
    for (qsizetype i = 0; i < layout.count; ++i)
        line << QPointF(layout.x(i), layout.y(points[i].score));
    painter.setPen(QPen(ink.line, 2 * unit));
    painter.drawPolyline(line);
    // Each answer is a point while they stand apart; a single answer has
    // only its point.
    const double marker = kMarker * unit, ring = kCurrent * unit;
    if (line.size() == 1 || area.width() / double(line.size()) >= 4 * marker) {
        painter.setBrush(ink.line);
        painter.setPen(Qt::NoPen);
        for (const QPointF &point : line)
            painter.drawEllipse(point, marker, marker);
    }
    if (current >= 0 && current < line.size()) {
        const QPointF point = line[current];
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(ink.text, unit, Qt::DashLine));
        painter.drawLine(QPointF(point.x(), area.top()), QPointF(point.x(), area.bottom()));
        painter.setPen(QPen(ink.text, 2 * unit));
        painter.drawEllipse(point, ring, ring);
    }
    painter.restore();
}

QList<ScorePoint> scoresOf(const QList<HistoryRow> &answers)
{
    QList<ScorePoint> scores;
    scores.reserve(answers.size());
    for (const HistoryRow &row : answers)
        scores << ScorePoint{row.when, row.answer.scoreAfter.toDouble()};
    return scores;
}

ScoreChart::ScoreChart()
{
    setMinimumSize(480, 200);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("courbe du score"));
    describe();
}

void ScoreChart::setScores(const QList<ScorePoint> &scores, qsizetype answers)
{
    m_points = pointsShown(scores);
    m_answers = std::max(answers, scores.size());
    m_current = -1;
    describe();
    update();
}

void ScoreChart::setAnswers(const QList<HistoryRow> &answers)
{
    setScores(scoresOf(answers));
}

void ScoreChart::setAnswers(const ChartAnswers &chart)
{
    setScores(scoresOf(chart.rows), chart.answers);
}

QString ScoreChart::pointText(qsizetype index) const
{
    const ScorePoint &point = m_points[index];
    return QStringLiteral("%1 : score %2").arg(shownTime(point.when), scoreText(point.score));
}

void ScoreChart::describe()
{
    QString description;
    if (m_points.isEmpty())
        description = kNothing;
    else if (m_current >= 0)
        description = pointText(m_current);
    else
        description = QStringLiteral("score de %1 à %2 en %3 réponses, du %4 au %5%6 ; les flèches "
                                     "gauche et droite lisent chaque point")
                          .arg(scoreText(m_points.first().score), scoreText(m_points.last().score))
                          .arg(m_answers)
                          .arg(shownDay(m_points.first().when), shownDay(m_points.last().when),
                               m_points.size() < m_answers
                                   ? QStringLiteral(", un point par jour (sa dernière réponse)")
                                   : QString());
    // Qt tells screen readers of the change (QAccessible::DescriptionChanged),
    // so the point reached is read as the arrows move.
    if (description != accessibleDescription())
        setAccessibleDescription(description);
}

void ScoreChart::setCurrent(qsizetype index)
{
    m_current = std::clamp<qsizetype>(index, 0, m_points.size() - 1);
    describe();
    update();
}

void ScoreChart::keyPressEvent(QKeyEvent *event)
{
    if (m_points.isEmpty())
        return QWidget::keyPressEvent(event);
    // From nowhere, the way back starts at the last answer.
    const qsizetype last = m_points.size() - 1;
    switch (event->key()) {
    case Qt::Key_Left:
        return setCurrent(m_current < 0 ? last : m_current - 1);
    case Qt::Key_Right:
        return setCurrent(m_current < 0 ? 0 : m_current + 1);
    case Qt::Key_Home:
        return setCurrent(0);
    case Qt::Key_End:
        return setCurrent(last);
    default:
        return QWidget::keyPressEvent(event);
    }
}

void ScoreChart::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void ScoreChart::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

bool ScoreChart::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip || m_points.isEmpty())
        return QWidget::event(event);
    // The answer in the column under the pointer, wherever it is in height.
    const auto *help = static_cast<QHelpEvent *>(event);
    const Layout layout = layoutOf(m_points, rect(), QFontMetricsF(font()), 1);
    const double spacing = layout.count > 1 ? layout.area.width() / double(layout.count - 1) : 0;
    const qsizetype nearest = std::clamp<qsizetype>(
        spacing > 0 ? std::lround((help->pos().x() - layout.area.left()) / spacing) : 0, 0,
        layout.count - 1);
    if (std::abs(help->pos().x() - layout.x(nearest)) > std::max(spacing / 2, 2 * kCurrent)) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), pointText(nearest), this);
    }
    return true;
}

void ScoreChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor text = palette().color(QPalette::WindowText);
    if (hasFocus()) {
        painter.setPen(QPen(text, 1, Qt::DashLine));
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
    painter.setPen(text);
    if (m_points.isEmpty())
        painter.drawText(rect().adjusted(int(kGap), 0, -int(kGap), 0),
                         Qt::AlignCenter | Qt::TextWordWrap, kNothing);
    else
        drawScores(painter, rect(), m_points, {text, lineColour(palette())}, 1, m_current);
}
