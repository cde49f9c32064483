// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QWidget>

// The score after each answer, as a line; a single answer is a point. Drawn
// with QPainter: one line and two axes need no chart library, which would
// bring Qt's OpenGL libraries into the package and the Windows build. Screen
// readers get the tables; the chart's description says where the score went.
class ScoreChart final : public QWidget
{
public:
    ScoreChart();
    void setScores(const QList<double> &scores);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QList<double> m_scores;
};
