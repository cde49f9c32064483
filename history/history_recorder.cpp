// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"

#include "history/history_database.h"
#include "services/worker_thread.h"

#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// A forwarder that fails is tried again later and later.
constexpr auto kFirstRetry = 2s;
constexpr auto kLastRetry = 60s;

} // namespace

// Lives on the recorder's thread, with the history and the forwarder.
// Forwarding waits for no click: answers are written first.
class HistoryRecorder::Writer final : public QObject
{
public:
    explicit Writer(std::unique_ptr<AnswerForwarder> forwarder)
        : m_forwarder(std::move(forwarder)), m_planned(this)
    {
        m_planned.setSingleShot(true);
        QObject::connect(&m_planned, &QTimer::timeout, this, &Writer::forwardNow);
    }

    void insert(const HistoryRow &row)
    {
        if (!history().insert(row))
            say(history().problem());
        forwardSoon(0ms);
    }

    // Answers left unforwarded by an earlier game go first, then each
    // answer after it is written: one try for however many come meanwhile.
    void forwardSoon(std::chrono::milliseconds delay)
    {
        if (m_forwarder && !m_planned.isActive())
            m_planned.start(delay);
    }

    void forwardNow()
    {
        if (!m_forwarder)
            return;
        if (m_forwarder->forward(history())) {
            m_retry = kFirstRetry;
            return;
        }
        say(m_forwarder->problem());
        forwardSoon(m_retry);
        m_retry = std::min<std::chrono::milliseconds>(m_retry * 2, kLastRetry);
    }

private:
    HistoryDatabase &history()
    {
        if (!m_history)
            m_history = std::make_unique<HistoryDatabase>(QStringLiteral("additions-recorder"));
        return *m_history;
    }

    // Each problem once, for the adult who reads the standard error.
    void say(const QString &problem)
    {
        if (problem.isEmpty() || problem == m_said)
            return;
        m_said = problem;
        QTextStream(stderr) << m_said << Qt::endl;
    }

    std::unique_ptr<HistoryDatabase> m_history;
    std::unique_ptr<AnswerForwarder> m_forwarder;
    QTimer m_planned;
    std::chrono::milliseconds m_retry = kFirstRetry;
    QString m_said;
};

HistoryRecorder::HistoryRecorder(std::unique_ptr<AnswerForwarder> forwarder)
    : m_forwards(forwarder != nullptr), m_writer(new Writer(std::move(forwarder))),
      m_thread(std::make_unique<WorkerThread>(m_writer))
{
    if (m_forwards)
        m_thread->post([writer = m_writer] { writer->forwardSoon(0ms); });
}

HistoryRecorder::~HistoryRecorder()
{
    // The last answers are forwarded before the game closes; a stuck disk
    // must not keep it from closing, and a server is given the time of one
    // connection.
    if (m_forwards)
        m_thread->post([writer = m_writer] { writer->forwardNow(); });
    m_thread->finish(m_forwards ? 3s : 1s);
}

void HistoryRecorder::record(const AnswerRecord &answer)
{
    m_thread->post([writer = m_writer, row = HistoryRow{QDateTime::currentDateTimeUtc(), answer}] {
        writer->insert(row);
    });
}
