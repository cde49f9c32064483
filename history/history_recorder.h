// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_module.h"
#include "services/answer_recorder.h"

#include <functional>
#include <memory>

class QThread;

// Writes each answer to the history on a thread of its own: a click never
// waits for the disk, a lock or a damaged file. The database is opened at
// the first answer, not at start-up. On close, what is queued is written
// (for at most a second). The thread itself starts with the first answer.
class HistoryRecorder final : public AnswerRecorder
{
public:
    using OpenWriter = std::function<std::unique_ptr<HistoryWriter>()>;
    // `open` is called on the thread, once, at the first answer.
    explicit HistoryRecorder(OpenWriter open);
    ~HistoryRecorder() override;
    void record(const AnswerRecord &answer) override;
    // Answers that could not be written since the game started.
    int lost() const;

private:
    struct Queue;
    std::shared_ptr<Queue> m_queue;
    std::unique_ptr<QThread> m_worker;
};
