// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/answer_recorder.h"

#include <QString>

#include <memory>

class HistoryDatabase;
class WorkerThread;

// Where this computer's answers go once written: a class's server. It runs
// on a thread of its own, with a connection of its own to the history, so
// that a server that does not answer never holds up a record.
class AnswerForwarder
{
public:
    virtual ~AnswerForwarder() = default;
    // Sends what the other end lacks. Blocks for as long as that takes.
    // False when it could not, problem() saying why in French.
    virtual bool forward(HistoryDatabase &history) = 0;
    virtual QString problem() const = 0;
    // Nothing was forwarded for a while: what the forwarder keeps open for
    // the next answers may go.
    virtual void rest() {}
};

// Writes each answer to the history on a thread of its own: a click never
// waits for the disk, a lock or a damaged file, and the child is never told
// of them. The database is opened at the first answer, not at start-up. On
// close, what is queued is written, for at most a second. With a forwarder,
// each answer written is then forwarded from a second thread, and those it
// could not forward are tried again later and later, and at the next start:
// the network never delays a record, and closing gives the forwarder a few
// seconds before it is abandoned. A failure is said once, in French, on the
// standard error; the adults' program says it too.
class HistoryRecorder final : public AnswerRecorder
{
public:
    explicit HistoryRecorder(std::unique_ptr<AnswerForwarder> forwarder = nullptr);
    ~HistoryRecorder() override;
    void record(const AnswerRecord &answer) override;

private:
    class Writer;
    class Sender;
    struct Wakeup;
    std::shared_ptr<Wakeup> m_wakeup; // how the writer's thread wakes the sender's
    Sender *m_sender = nullptr;       // lives on its thread, which owns it
    std::unique_ptr<WorkerThread> m_sending;
    Writer *m_writer; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
};
