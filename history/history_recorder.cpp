// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_recorder.h"

#include "history/history_database.h"
#include "services/worker_thread.h"

#include <QTextStream>

#include <chrono>

class HistoryRecorder::Writer final : public QObject
{
public:
    void insert(const HistoryRow &row)
    {
        if (!m_history)
            m_history = std::make_unique<HistoryDatabase>(QStringLiteral("additions-recorder"));
        if (!m_history->insert(row) && m_history->problem() != m_said) {
            m_said = m_history->problem();
            QTextStream(stderr) << m_said << Qt::endl;
        }
    }

private:
    std::unique_ptr<HistoryDatabase> m_history;
    QString m_said;
};

HistoryRecorder::HistoryRecorder()
    : m_writer(new Writer), m_thread(std::make_unique<WorkerThread>(m_writer))
{}

HistoryRecorder::~HistoryRecorder()
{
    // A stuck disk must not keep the game from closing.
    m_thread->finish(std::chrono::seconds(1));
}

void HistoryRecorder::write(const AnswerRecord &answer)
{
    m_thread->post([writer = m_writer, row = HistoryRow{QDateTime::currentDateTimeUtc(), answer}] {
        writer->insert(row);
    });
}
