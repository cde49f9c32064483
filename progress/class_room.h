// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_host.h"

#include <QWidget>

#include <functional>
#include <memory>

class NoticeLine;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class WorkerThread;

// "Salle": the class this computer hosts, for its teacher. The address and
// the code the room's computers join with, a new code or none, the wrong
// codes tried, and each computer that joined with its last answer, which
// the teacher may remove; the class's server started with the window and
// stopped on request. The server's work runs on a thread of its own.
class ClassRoom final : public QWidget
{
public:
    explicit ClassRoom(QWidget *parent = nullptr);
    ~ClassRoom() override;

    // Asks the teacher a name, and opens the class on this computer.
    static void open(QWidget *parent, const std::function<void()> &opened);

private:
    struct State
    {
        QString problem, address, code;
        QDateTime until;
        int wrongCodes = 0;
        QList<ClassHost::Computer> computers;
        bool running = false;
    };
    // Runs `change` on the server's thread, then shows the room.
    void change(std::function<bool(ClassHost &)> change);
    void show(const State &state);

    std::shared_ptr<ClassHost> m_host; // used on the thread only
    std::unique_ptr<WorkerThread> m_thread;
    NoticeLine *m_problem;
    QLabel *m_joining;
    QLabel *m_wrong;
    QTableWidget *m_computers;
    QPushButton *m_stop;
    QCheckBox *m_atLogin;
    State m_shown;
};
