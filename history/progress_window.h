// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_database.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QTableWidget;
class ScoreChart;

// "Progrès": for a parent or a teacher, per player and period, the score
// over time, each level's answers and share right, and the last answers, in
// tables a screen reader reads; with the export to CSV and the clearing of
// a player's history. It reads the history only; the game's window and its
// scores are not touched.
class ProgressWindow final : public QWidget
{
public:
    // `lost`: answers the running game could not write, to say so.
    explicit ProgressWindow(int lost = 0, QWidget *parent = nullptr);

private:
    void refresh();
    void exportCsv();
    void clearPlayer();
    QString player() const;

    HistoryDatabase m_history;
    QComboBox *m_players;
    QComboBox *m_period;
    QLabel *m_problem;
    ScoreChart *m_chart;
    QTableWidget *m_levels;
    QTableWidget *m_last;
};
