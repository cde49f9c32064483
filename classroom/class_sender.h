// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classroom/class_connection.h"
#include "history/history_recorder.h"
#include "history/progress_queries.h"

#include <QDeadlineTimer>

#include <functional>
#include <memory>

// Sends this computer's answers to the class's server, as the computer's
// role, through one connection kept open while answers come: a new TLS
// connection costs the server far more than the answer it carries. The history on this computer
// stays the record, and is the outbox: each answer carries an id made here, the server keeps an
// answer sent twice once, and an answer is marked sent once the server has it. Only a failure that
// goes by itself (the network, a busy or blocked server) holds the queue; an answer the server
// refuses is set aside with its reason.
class ClassSender final : public AnswerForwarder
{
public:
    // A sender where this computer has a class; none where it has not.
    static std::unique_ptr<AnswerForwarder> ifConfigured();

    explicit ClassSender(const QString &connectionName);
    // Every answer the server lacks, oldest first, in batches of one
    // transaction each.
    // A connection the server dropped meanwhile (a restart, its idle
    // limit) is opened again at once, once.
    bool forward(HistoryDatabase &history) override;
    QString problem() const override { return m_problem; }
    void rest() override { m_server.close(); }

private:
    // Asks the server who it is, as it connects: a database that is not the
    // one that took the answers gets them again, and answers set aside are
    // offered again at each start and after an erasure.
    bool meetServer(HistoryDatabase &history);
    bool sendAll(HistoryDatabase &history);

    ClassConnection m_server;
    QString m_problem;
    bool m_connectionLost = false;  // by the last try
    bool m_crowded = false;         // the server, at the last try
    QDeadlineTimer m_offerAgain{0}; // set-aside answers are offered again when it expires
};

// What Progrès says of this computer's outbox: how many answers wait for
// the class's server and why, the server asked once per window. None where
// this computer has no class.
ProgressQueries::OutboxStatus outboxStatus();
