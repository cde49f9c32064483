// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/child_names.h"
#include "classroom/class_view.h"

#include <QWidget>

#include <memory>
#include <optional>

class ClassGrid;
class ClassQueries;
class NoticeLine;
class QLabel;
class QSplitter;
class ScoreChart;
class QTableWidget;
class WorkerThread;

// "Classe": for a teacher, every computer and player of their classes, with
// their answers, share right, mastery per level and last activity; the
// chosen child at a glance (their score over time, last answers and the
// sums they find hardest), and the class's answers by the carries their
// sums make. It follows the class as
// children answer. The server knows computers and player keys only: the
// names a teacher gives stay on the teacher's machine.
class ClassTab final : public QWidget
{
public:
    explicit ClassTab(QWidget *parent = nullptr);
    ~ClassTab() override;
    // The class as the server sent it.
    void display(const ClassView &view);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void exportClass();
    void eraseChild();
    void saveReport(bool chosenChild);
    void askForChosenChild();
    void showChild(const ChildDetail &child);
    void showWholeClass();
    // Runs on the class's thread; `done` is said once it succeeded.
    template <typename Call> void post(Call call, const QString &done = {});

    ClassQueries *m_queries; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
    NoticeLine *m_status;
    ClassGrid *m_children;
    QSplitter *m_split; // the grid above, the chosen child below
    QTableWidget *m_carries;
    QLabel *m_childTitle;
    ScoreChart *m_childChart;
    QTableWidget *m_childLast;
    QTableWidget *m_childCarries;
    std::optional<ClassView> m_waiting;       // arrived while a name was typed
    ClassView m_shown;                        // what a report of the class holds
    ChildDetail m_detail;                     // and of the chosen child
    std::optional<ChildNames::Child> m_asked; // whose answers were last read
    QStringList m_done;                       // what to say as each call posted ends, in order
    bool m_wholeClass = false;                // the first reading waits to be on screen
};
