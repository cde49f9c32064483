// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_sender.h"

#include "history/history_database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <optional>

namespace {

constexpr int kBatch = 100;

// An answer the class's server does not have yet.
struct PendingAnswer
{
    qint64 id = 0;
    QString uuid;
    HistoryRow row;
};

// The oldest answers not yet on the class's server, at most `count`.
// Answers recorded before a class was set up get their id now.
std::optional<QList<PendingAnswer>> unsent(HistoryDatabase &history, int count)
{
    QSqlQuery query(history.connection());
    query.prepare(QStringLiteral("SELECT %1, id, uuid FROM answers WHERE sent = 0 ORDER BY id "
                                 "LIMIT ?")
                      .arg(QString::fromLatin1(kAnswerColumns)));
    query.addBindValue(count);
    if (!history.isOpen())
        return std::nullopt;
    if (!query.exec()) {
        history.failed(query.lastError());
        return std::nullopt;
    }
    QList<PendingAnswer> pending;
    while (query.next())
        pending.append({query.value(10).toLongLong(), query.value(11).toString(), rowOf(query)});
    query.finish();
    for (PendingAnswer &answer : pending) {
        if (!answer.uuid.isEmpty())
            continue;
        answer.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSqlQuery give(history.connection());
        give.prepare(QStringLiteral("UPDATE answers SET uuid = ? WHERE id = ? AND uuid IS NULL"));
        give.addBindValue(answer.uuid);
        give.addBindValue(answer.id);
        if (!give.exec()) {
            history.failed(give.lastError());
            return std::nullopt;
        }
    }
    return pending;
}

// What became of a batch on the server: each answer sent (or known
// already), forgotten (made before its child's answers were erased there),
// or refused for good, with the server's reason.
struct BatchOutcome
{
    QList<qint64> sent;
    QList<qint64> erased;
    QList<std::pair<qint64, QString>> refused;
};

// Marks it in the history, all or nothing: were the marks lost, the next
// try sends the answers again, and the server keeps each once.
bool keepOutcome(HistoryDatabase &history, const BatchOutcome &outcome)
{
    QSqlDatabase &db = history.connection();
    if (!db.transaction())
        return history.failed(db.lastError());
    QSqlQuery query(db);
    const auto run = [&query](const char *sql, const QVariantList &values) {
        query.prepare(QString::fromLatin1(sql));
        for (const QVariant &value : values)
            query.addBindValue(value);
        return query.exec();
    };
    bool kept = true;
    for (qint64 id : outcome.sent)
        kept = kept && run("UPDATE answers SET sent = 1 WHERE id = ?", {id});
    for (qint64 id : outcome.erased)
        kept = kept && run("DELETE FROM answers WHERE id = ?", {id});
    for (const auto &[id, reason] : outcome.refused)
        kept = kept && run("UPDATE answers SET sent = 2, refusal = ? WHERE id = ?",
                           {reason.left(1000), id});
    if (kept && db.commit())
        return true;
    const QSqlError error = kept ? db.lastError() : query.lastError();
    db.rollback();
    return history.failed(error);
}

// A refusal that sending again would meet again: the server's checks (data
// exceptions, broken constraints). Anything else (the network, a server
// restarting, too many answers this hour, rights an administrator will
// mend) passes.
bool lasting(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return state.startsWith(QStringLiteral("22")) || state.startsWith(QStringLiteral("23"));
}

// How many answers wait, how many the server refused, and the last
// refusal's reason.
struct OutboxCounts
{
    int waiting = 0;
    int refused = 0;
    QString reason;
};

OutboxCounts outboxCounts(HistoryDatabase &history)
{
    QSqlQuery query(history.connection());
    OutboxCounts counts;
    if (query.exec(
            QStringLiteral("SELECT sent, COUNT(*) FROM answers WHERE sent <> 1 GROUP BY sent")))
        while (query.next())
            (query.value(0).toInt() == 0 ? counts.waiting : counts.refused) =
                query.value(1).toInt();
    if (counts.refused > 0 &&
        query.exec(QStringLiteral(
            "SELECT refusal FROM answers WHERE sent = 2 ORDER BY id DESC LIMIT 1")) &&
        query.next())
        counts.reason = query.value(0).toString();
    return counts;
}

} // namespace

std::unique_ptr<AnswerForwarder> ClassSender::ifConfigured()
{
    if (!ClassConnection::configured(ClassConnection::kComputer))
        return nullptr;
    return std::make_unique<ClassSender>(QStringLiteral("additions-class-sender"));
}

ClassSender::ClassSender(const QString &connectionName)
    : m_server(ClassConnection::kComputer, connectionName)
{}

bool ClassSender::forward(HistoryDatabase &history)
{
    if (!m_server.open()) {
        m_problem = m_server.problem() + QStringLiteral(" Les réponses restent sur cet ordinateur "
                                                        "et partiront dès qu'il répondra.");
        return false;
    }
    QSqlDatabase &db = m_server.db();
    // The queries go before the connection closes, which would leave them
    // nothing to free their statements on.
    const auto failed = [this, &db](const QSqlError &error,
                                    std::initializer_list<QSqlQuery *> queries = {}) {
        for (QSqlQuery *query : queries)
            *query = QSqlQuery();
        m_problem = QStringLiteral("Le serveur de la classe n'a pas pris les réponses (%1).")
                        .arg(error.text().trimmed());
        db.rollback();
        return m_server.failed(m_problem, error.text().trimmed());
    };
    for (;;) {
        const std::optional<QList<PendingAnswer>> batch = unsent(history, kBatch);
        if (!batch) {
            m_problem = history.problem();
            return false;
        }
        if (batch->isEmpty()) {
            // Closed between answers: a school's hundreds of computers fit
            // in the server's default 100 connections.
            m_server.close();
            m_problem.clear();
            return true;
        }
        if (!db.transaction())
            return failed(db.lastError());
        // One answer the server refuses is set aside, and the others go.
        QSqlQuery savepoint(db), record(db);
        record.prepare(
            QStringLiteral("SELECT additions.record_answer(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        // The server sets this computer's clock right by how far it is from its own.
        const QString clock = storedTime(QDateTime::currentDateTimeUtc());
        BatchOutcome outcome;
        for (const PendingAnswer &pending : *batch) {
            const AnswerRecord &a = pending.row.answer;
            for (const QVariant &value :
                 {QVariant(QUuid::fromString(pending.uuid)), QVariant(a.player), QVariant(a.bound),
                  QVariant(a.first), QVariant(a.second), QVariant(a.answer), QVariant(a.right),
                  QVariant(a.stake), QVariant(a.scoreAfter), QVariant(a.scoreKept),
                  QVariant(storedTime(pending.row.when)), QVariant(clock)})
                record.addBindValue(value);
            if (!savepoint.exec(QStringLiteral("SAVEPOINT answer")))
                return failed(savepoint.lastError(), {&savepoint, &record});
            if (record.exec() && record.next()) {
                (record.value(0).toString() == u"erased" ? outcome.erased : outcome.sent)
                    << pending.id;
            } else if (const QSqlError error = record.lastError(); lasting(error)) {
                if (!savepoint.exec(QStringLiteral("ROLLBACK TO SAVEPOINT answer")))
                    return failed(savepoint.lastError(), {&savepoint, &record});
                outcome.refused.append({pending.id, error.databaseText().trimmed()});
            } else {
                return failed(error, {&savepoint, &record});
            }
        }
        savepoint = QSqlQuery();
        record = QSqlQuery();
        if (!db.commit())
            return failed(db.lastError());
        if (!keepOutcome(history, outcome)) {
            m_problem = history.problem();
            return false;
        }
    }
}

ProgressQueries::OutboxStatus outboxStatus()
{
    if (!ClassConnection::configured(ClassConnection::kComputer))
        return {};
    return [reachable = std::optional<Notice>()](HistoryDatabase &history) mutable {
        const OutboxCounts counts = outboxCounts(history);
        Notice status;
        if (counts.waiting > 0) {
            if (!reachable) {
                ClassConnection server(ClassConnection::kComputer,
                                       QStringLiteral("additions-class-status"));
                reachable = server.open() ? Notice() : Notice{server.problem(), server.details()};
            }
            status.text = QStringLiteral("%1 réponse(s) de cet ordinateur attendent d'être "
                                         "envoyées au serveur de la classe. %2 ")
                              .arg(counts.waiting)
                              .arg(reachable->text);
            status.details = reachable->details;
        }
        if (counts.refused > 0)
            status.text +=
                QStringLiteral("%1 réponse(s) ont été refusées par le serveur de la classe "
                               "(« %2 ») : elles restent dans l'historique de cet "
                               "ordinateur.")
                    .arg(counts.refused)
                    .arg(counts.reason);
        status.text = status.text.simplified();
        return status;
    };
}
