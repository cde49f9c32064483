// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/worker_thread.h"

#include <QDeadlineTimer>
#include <QThread>

WorkerThread::WorkerThread(QObject *worker)
    : m_worker(worker), m_thread(std::make_unique<QThread>())
{
    m_worker->moveToThread(m_thread.get());
    // Deleted on its thread as the thread ends, with whatever it holds.
    QObject::connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);
}

WorkerThread::~WorkerThread()
{
    if (!m_ended)
        stop(std::chrono::milliseconds(300));
}

void WorkerThread::start()
{
    if (!m_started && !m_ended) {
        m_started = true;
        m_thread->start();
    }
}

bool WorkerThread::finish(std::chrono::milliseconds deadline)
{
    if (m_started)
        QMetaObject::invokeMethod(
            m_worker, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    return waitForEnd(deadline);
}

bool WorkerThread::stop(std::chrono::milliseconds deadline)
{
    *m_stopped = true;
    m_thread->quit();
    return waitForEnd(deadline);
}

bool WorkerThread::waitForEnd(std::chrono::milliseconds deadline)
{
    m_ended = true;
    // Not isRunning(): that is false too while an ending thread deletes the
    // worker.
    if (!m_started) {
        delete m_worker;
        return true;
    }
    if (m_thread->wait(QDeadlineTimer(deadline)))
        return true;
    // A running QThread must not be destroyed: it goes once it has ended,
    // or with the program.
    QThread *running = m_thread.release();
    QObject::connect(
        running, &QThread::finished, running,
        [running] {
            running->wait();
            delete running;
        },
        Qt::QueuedConnection);
    return false;
}
