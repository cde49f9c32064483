// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"

#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

struct HistoryRecorder::Queue
{
    OpenWriter open;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<HistoryRow> waiting;
    bool stopping = false;
    bool done = false;
    int lost = 0;

    void run()
    {
        std::unique_ptr<HistoryWriter> writer;
        bool opened = false;
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || !waiting.empty(); });
            if (waiting.empty())
                break;
            const HistoryRow row = waiting.front();
            waiting.pop_front();
            lock.unlock();
            if (!opened) {
                writer = open();
                opened = true;
            }
            const bool written = writer && writer->insert(row);
            lock.lock();
            lost += written ? 0 : 1;
        }
        lock.unlock();
        writer.reset();
        lock.lock();
        done = true;
        changed.notify_all();
    }
};

HistoryRecorder::HistoryRecorder(OpenWriter open) : m_queue(std::make_shared<Queue>())
{
    m_queue->open = std::move(open);
}

HistoryRecorder::~HistoryRecorder()
{
    std::unique_lock lock(m_queue->mutex);
    if (!m_worker)
        return;
    m_queue->stopping = true;
    m_queue->changed.notify_all();
    // A stuck disk must not keep the game from closing.
    const bool done =
        m_queue->changed.wait_for(lock, std::chrono::seconds(1), [this] { return m_queue->done; });
    lock.unlock();
    // Waited for, the thread has also ended: its own clean-up must not run
    // while the program itself is ending. A thread stuck on the disk is left
    // to end with the program.
    if (done)
        m_worker->wait();
    else
        (void)m_worker.release();
}

void HistoryRecorder::record(const AnswerRecord &answer)
{
    std::lock_guard lock(m_queue->mutex);
    // The thread starts with the first answer, not with the game.
    if (!m_worker) {
        // A QThread rather than a std::thread: built with MinGW, a
        // std::thread's end crashed in Qt's thread-local clean-up.
        m_worker.reset(QThread::create([queue = m_queue] { queue->run(); }));
        m_worker->start();
    }
    m_queue->waiting.push_back({QDateTime::currentDateTime(), answer});
    m_queue->changed.notify_all();
}

int HistoryRecorder::lost() const
{
    std::lock_guard lock(m_queue->mutex);
    return m_queue->lost;
}
