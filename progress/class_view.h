// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class ClassQueries;
class QLabel;
class QTableWidget;
class WorkerThread;
struct ClassView;

// "Classe": for a teacher, every computer and player of their classes, with
// their answers, share right, mastery per level and last activity, and the
// class's answers by the carries their sums make. It follows the class as
// children answer. Computers and player keys only: names stay with the
// teacher.
class ClassViewWidget final : public QWidget
{
public:
    explicit ClassViewWidget(QWidget *parent = nullptr);
    ~ClassViewWidget() override;

private:
    void display(const ClassView &view);
    void exportClass();
    void eraseChild();

    ClassQueries *m_queries; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
    QLabel *m_status;
    QTableWidget *m_children;
    QTableWidget *m_carries;
};
