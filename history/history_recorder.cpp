// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"

#include "history/history_database.h"
#include "services/worker_thread.h"

#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

using namespace std::chrono_literals;

namespace {

// A forwarder that fails is tried again later and later.
constexpr auto kFirstRetry = 2s;
constexpr auto kLastRetry = 60s;
// A forwarder that forwarded nothing for so long may rest.
constexpr auto kIdle = 60s;
// What closing gives the last answers: a stuck disk, and a server, so long.
constexpr auto kLastWrite = 1s;
constexpr auto kLastSend = 3s;

// Each problem once, for the adult who reads the standard error.
void sayOnce(const QString &problem, QString &said)
{
    if (problem.isEmpty() || problem == said)
        return;
    said = problem;
    QTextStream(stderr) << said << Qt::endl;
}

} // namespace

// The writer's thread tells the sender's of each answer written, for as
// long as the sender's thread is there: the writer's may outlive it when a
// disk does not answer at closing.
struct HistoryRecorder::Wakeup
{
    std::mutex mutex;
    WorkerThread *sending = nullptr;
    Sender *sender = nullptr;
    void written();
};

// Lives on the sender's thread, with a connection of its own to the history
// and the forwarder. One try for however many answers are written meanwhile.
class HistoryRecorder::Sender final : public QObject
{
public:
    explicit Sender(std::unique_ptr<AnswerForwarder> forwarder)
        : m_forwarder(std::move(forwarder)), m_planned(this), m_idle(this)
    {
        m_planned.setSingleShot(true);
        QObject::connect(&m_planned, &QTimer::timeout, this, &Sender::forwardNow);
        m_idle.setSingleShot(true);
        m_idle.setInterval(kIdle);
        QObject::connect(&m_idle, &QTimer::timeout, this, [this] { m_forwarder->rest(); });
    }

    void forwardSoon(std::chrono::milliseconds delay)
    {
        if (!m_planned.isActive())
            m_planned.start(delay);
    }

    void forwardNow()
    {
        m_planned.stop();
        if (!m_history) {
            // A name of its own: a sender abandoned at closing may still
            // hold its connection while another starts.
            static std::atomic<int> senders = 0;
            m_history = std::make_unique<HistoryDatabase>(
                QStringLiteral("additions-sender-%1").arg(senders++));
        }
        m_idle.start();
        if (m_forwarder->forward(*m_history)) {
            m_retry = kFirstRetry;
            return;
        }
        sayOnce(m_forwarder->problem(), m_said);
        // A room's computers that failed together try again apart.
        forwardSoon(std::chrono::milliseconds(
            qint64(double(m_retry.count()) * (0.5 + QRandomGenerator::global()->bounded(1.0)))));
        m_retry = std::min<std::chrono::milliseconds>(m_retry * 2, kLastRetry);
    }

private:
    std::unique_ptr<HistoryDatabase> m_history;
    std::unique_ptr<AnswerForwarder> m_forwarder;
    QTimer m_planned;
    QTimer m_idle;
    std::chrono::milliseconds m_retry = kFirstRetry;
    QString m_said;
};

void HistoryRecorder::Wakeup::written()
{
    const std::lock_guard lock(mutex);
    if (sending)
        sending->post([sender = this->sender] { sender->forwardSoon(0ms); });
}

// Lives on the recorder's thread, with the history.
class HistoryRecorder::Writer final : public QObject
{
public:
    explicit Writer(std::shared_ptr<Wakeup> wakeup) : m_wakeup(std::move(wakeup)) {}

    void insert(const HistoryRow &row)
    {
        // A history that could not be written (a lock held too long, a
        // file an adult has mended since) is opened again for the next try.
        for (int tries = 0; tries < 2; ++tries) {
            if (!m_history)
                m_history = std::make_unique<HistoryDatabase>(QStringLiteral("additions-recorder"));
            if (m_history->insert(row)) {
                if (m_wakeup)
                    m_wakeup->written();
                return;
            }
            sayOnce(m_history->problem(), m_said);
            m_history.reset();
        }
    }

private:
    std::unique_ptr<HistoryDatabase> m_history;
    std::shared_ptr<Wakeup> m_wakeup;
    QString m_said;
};

HistoryRecorder::HistoryRecorder(std::unique_ptr<AnswerForwarder> forwarder)
{
    if (forwarder) {
        m_wakeup = std::make_shared<Wakeup>();
        m_sender = new Sender(std::move(forwarder));
        m_sending = std::make_unique<WorkerThread>(m_sender);
        m_wakeup->sending = m_sending.get();
        m_wakeup->sender = m_sender;
        // Answers left unforwarded by an earlier game go first.
        m_sending->post([sender = m_sender] { sender->forwardSoon(0ms); });
    }
    m_writer = new Writer(m_wakeup);
    m_thread = std::make_unique<WorkerThread>(m_writer);
}

HistoryRecorder::~HistoryRecorder()
{
    // Every answer clicked is written first, whatever the server does; a
    // stuck disk must not keep the game from closing.
    m_thread->finish(kLastWrite);
    if (!m_sending)
        return;
    {
        const std::lock_guard lock(m_wakeup->mutex);
        m_wakeup->sending = nullptr;
    }
    // Then the last answers are forwarded, for as long as a connection
    // takes; past that, sending is abandoned, and they go at the next start.
    m_sending->post([sender = m_sender] { sender->forwardNow(); });
    m_sending->finish(kLastSend);
}

void HistoryRecorder::record(const AnswerRecord &answer)
{
    m_thread->post([writer = m_writer,
                    row = HistoryRow{QDateTime::currentDateTimeUtc(), answer, BootInstant::now()}] {
        writer->insert(row);
    });
}
