// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <memory>

class QThread;

// Work the window must never wait for (a sound, a write to the disk, a
// query over years of answers) runs on a thread of its own: a worker object
// lives there and runs the calls posted to it, one after another, in the
// order they were posted. The thread starts with the first call. Whatever
// the worker holds is created and destroyed on the thread.
class WorkerThread
{
public:
    // Takes `worker`, which must have no parent.
    explicit WorkerThread(QObject *worker);
    // Stops as stop() does, if finish() or stop() was not called.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Runs `call` on the thread, after every call posted before it.
    template <typename Call> void post(Call call)
    {
        start();
        QMetaObject::invokeMethod(
            m_worker,
            [stopped = m_stopped, call = std::move(call)] {
                if (!*stopped)
                    call();
            },
            Qt::QueuedConnection);
    }

    // Ends the thread once the calls posted so far have run. False when the
    // deadline passed first: the thread is then left to end on its own, so
    // that a disk or a sound server that does not answer never keeps the
    // program from closing.
    bool finish(std::chrono::milliseconds deadline);
    // Ends the thread once the call under way (if any) has run; the calls
    // still waiting are dropped.
    bool stop(std::chrono::milliseconds deadline);

private:
    void start();
    bool waitForEnd(std::chrono::milliseconds deadline);

    QObject *m_worker;
    // Set by stop(): the calls still queued then are not run.
    std::shared_ptr<std::atomic<bool>> m_stopped = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<QThread> m_thread;
    bool m_started = false;
    bool m_ended = false;
};
