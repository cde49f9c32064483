// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"
#include "progress/chart_axes.h"

#include <QList>
#include <QWidget>

// The score after each answer, as a line over the dates of the answers; a
// single answer is a point. Drawn with QPainter: one line and two axes need
// no chart library, which would bring Qt's OpenGL libraries into the package
// and the Windows build. The arrow keys walk the answers; the chart's
// description reads the one reached, for screen readers too.
class ScoreChart final : public QWidget
{
public:
    ScoreChart();
    // Oldest first.
    void setScores(const QList<ScorePoint> &scores);
    // The score after each of these answers, oldest first.
    void setAnswers(const QList<HistoryRow> &answers);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct Layout;
    Layout layout() const;
    QString pointText(qsizetype index) const;
    void setCurrent(qsizetype index);
    void describe();

    QList<ScorePoint> m_points; // as drawn: each answer, or each day's last
    qsizetype m_answers = 0;
    qsizetype m_current = -1; // the point the keyboard reached, if any
};
