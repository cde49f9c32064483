// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"

#include "history/class_server.h"
#include "history/history_database.h"
#include "services/worker_thread.h"

#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// A class's server that does not answer is tried again later and later.
constexpr auto kFirstRetry = 2s;
constexpr auto kLastRetry = 60s;

} // namespace

// Lives on the recorder's thread: the history, and the class's server when
// one is set up. Sending waits for no click: answers are written first, then
// sent when the server answers.
class HistoryRecorder::Writer final : public QObject
{
public:
    explicit Writer(bool toClass)
    {
        if (toClass)
            m_class = std::make_unique<ClassServer>(QStringLiteral("additions-class"));
    }

    void insert(const HistoryRow &row)
    {
        if (!history().insert(row))
            say(history().problem());
        sendSoon(0ms);
    }

    // Sends what the server lacks soon: answers left unsent by an earlier
    // game first, and each answer after it is written.
    void sendSoon(std::chrono::milliseconds delay)
    {
        if (!m_class || m_sendPlanned)
            return;
        m_sendPlanned = true;
        QTimer::singleShot(delay, this, [this] {
            m_sendPlanned = false;
            sendNow();
        });
    }

    // A server that does not answer is tried again, later and later.
    void sendNow()
    {
        if (!m_class)
            return;
        if (m_class->send(history())) {
            m_retry = kFirstRetry;
            return;
        }
        say(m_class->problem());
        sendSoon(m_retry);
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
    std::unique_ptr<ClassServer> m_class;
    bool m_sendPlanned = false;
    std::chrono::milliseconds m_retry = kFirstRetry;
    QString m_said;
};

HistoryRecorder::HistoryRecorder()
    : m_toClass(ClassServer::configured()), m_writer(new Writer(m_toClass)),
      m_thread(std::make_unique<WorkerThread>(m_writer))
{
    if (m_toClass)
        m_thread->post([writer = m_writer] { writer->sendSoon(0ms); });
}

HistoryRecorder::~HistoryRecorder()
{
    // The last answers go to the class's server before the game closes; a
    // stuck disk must not keep it from closing, and a server is given the
    // time of one connection.
    if (m_toClass)
        m_thread->post([writer = m_writer] { writer->sendNow(); });
    m_thread->finish(m_toClass ? 3s : 1s);
}

void HistoryRecorder::write(const AnswerRecord &answer)
{
    m_thread->post([writer = m_writer, row = HistoryRow{QDateTime::currentDateTimeUtc(), answer}] {
        writer->insert(row);
    });
}
