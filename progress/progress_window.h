// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/progress_queries.h"

#include <QTabWidget>
#include <QWidget>

#include <memory>

class NoticeLine;
class ProgressQueries;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;
class ScoreChart;
class WorkerThread;

// "Progrès": for a parent or a teacher, per player and period, the score
// over time, each level's answers and share right, and the last answers, in
// tables a screen reader reads; with the export to CSV and the clearing of
// a player's history. Every query runs off the window's thread: the window
// says "calcul…" until its answer comes. The game's scores are not touched.
class ProgressWindow final : public QWidget
{
public:
    explicit ProgressWindow(QWidget *parent = nullptr);
    ~ProgressWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void refresh();
    void display(const ProgressView &view);
    void finished(const QString &failure);
    void exportCsv();
    void clearPlayer();
    void saveReport();
    void dismissSetAside();
    QString player() const;

    ProgressQueries *m_queries; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
    int m_request = 0;
    QComboBox *m_players;
    QComboBox *m_period;
    QLabel *m_status;
    NoticeLine *m_problem;
    QWidget *m_setAside;
    QLabel *m_setAsideText;
    QTableWidget *m_marks;
    ScoreChart *m_chart;
    QTableWidget *m_levels;
    QTableWidget *m_last;
    int m_playerAnswers = 0; // what an erasure of the player would take
    ProgressView m_shown;    // what a report of the player holds
    void addClassTabs();

    QTabWidget *m_tabs = new QTabWidget; // this computer, and the class for a teacher
    bool m_firstView = true;
    QStringList m_done; // what to say as each export or erasure ends, in order
};
