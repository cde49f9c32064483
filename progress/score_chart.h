// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"
#include "progress/chart_axes.h"

#include <QList>
#include <QWidget>

class QPainter;

// The colours a chart is drawn in: its text and axes, and its line.
struct ChartInk
{
    QColor text;
    QColor line;
};

// Draws the points, oldest first and as pointsShown() leaves them, into
// `frame` in the painter's font, with round steps up the side and dates
// along the bottom. Lengths are `unit` device pixels to a screen's pixel:
// the printed chart is the window's. A ring marks the point `current`.
void drawScores(QPainter &painter, const QRectF &frame, const QList<ScorePoint> &points,
                const ChartInk &ink, double unit = 1, qsizetype current = -1);

// The score after each answer, in the same order.
QList<ScorePoint> scoresOf(const QList<HistoryRow> &answers);

// The score after each answer, as a line over the dates of the answers; a
// single answer is a point. Drawn with QPainter: one line and two axes need
// no chart library, which would bring Qt's OpenGL libraries into the package
// and the Windows build. The arrow keys walk the answers; the chart's
// description reads the one reached, for screen readers too.
class ScoreChart final : public QWidget
{
public:
    ScoreChart();
    // Oldest first; they stand for `answers` answers when folded by day.
    void setScores(const QList<ScorePoint> &scores, qsizetype answers = -1);
    // The score after each of these answers, oldest first.
    void setAnswers(const QList<HistoryRow> &answers);
    void setAnswers(const ChartAnswers &chart);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QString pointText(qsizetype index) const;
    void setCurrent(qsizetype index);
    void describe();

    QList<ScorePoint> m_points; // as drawn: each answer, or each day's last
    qsizetype m_answers = 0;
    qsizetype m_current = -1; // the point the keyboard reached, if any
};
