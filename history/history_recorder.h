// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/answer_recorder.h"

#include <memory>

class WorkerThread;

// Writes each answer to the history on a thread of its own: a click never
// waits for the disk, a lock or a damaged file, and the child is never told
// of them. The database is opened at the first answer, not at start-up. On
// close, what is queued is written, for at most a second. Where a class's
// server is set up, answers are then sent to it from the same thread, and
// those a stopped server missed are sent when it is back, or at the next
// start. A failure is said once, in French, on the standard error; the
// adults' program says it too.
class HistoryRecorder final : public AnswerRecorder
{
public:
    HistoryRecorder();
    ~HistoryRecorder() override;

protected:
    void write(const AnswerRecord &answer) override;

private:
    class Writer;
    bool m_toClass;
    Writer *m_writer; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
};
