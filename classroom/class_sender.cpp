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

bool markSent(HistoryDatabase &history, const QList<PendingAnswer> &answers)
{
    QSqlDatabase &db = history.connection();
    if (!db.transaction())
        return history.failed(db.lastError());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("UPDATE answers SET sent = 1 WHERE id = ?"));
    for (const PendingAnswer &answer : answers) {
        query.addBindValue(answer.id);
        if (!query.exec()) {
            db.rollback();
            return history.failed(query.lastError());
        }
    }
    return db.commit() || history.failed(db.lastError());
}

int unsentCount(HistoryDatabase &history)
{
    QSqlQuery query(history.connection());
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM answers WHERE sent = 0")) && query.next()
               ? query.value(0).toInt()
               : 0;
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
    const auto refused = [this](const QSqlError &error) {
        m_problem = QStringLiteral("Le serveur de la classe a refusé les réponses (%1).")
                        .arg(error.text().trimmed());
        return m_server.failed(m_problem);
    };
    for (;;) {
        const std::optional<QList<PendingAnswer>> batch = unsent(history, kBatch);
        if (!batch) {
            m_problem = history.problem();
            return false;
        }
        if (batch->isEmpty()) {
            m_problem.clear();
            return true;
        }
        if (!db.transaction())
            return refused(db.lastError());
        QSqlQuery record(db);
        record.prepare(
            QStringLiteral("SELECT additions.record_answer(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const PendingAnswer &pending : *batch) {
            const AnswerRecord &a = pending.row.answer;
            for (const QVariant &value :
                 {QVariant(QUuid::fromString(pending.uuid)), QVariant(a.player), QVariant(a.bound),
                  QVariant(a.first), QVariant(a.second), QVariant(a.answer), QVariant(a.right),
                  QVariant(a.stake), QVariant(a.scoreAfter), QVariant(a.scoreKept),
                  QVariant(storedTime(pending.row.when))})
                record.addBindValue(value);
            if (!record.exec()) {
                const QSqlError error = record.lastError();
                db.rollback();
                return refused(error);
            }
        }
        if (!db.commit())
            return refused(db.lastError());
        // Had the mark failed, the next try sends them again: the server
        // keeps each once.
        if (!markSent(history, *batch)) {
            m_problem = history.problem();
            return false;
        }
    }
}

std::function<QString(HistoryDatabase &)> outboxStatus()
{
    if (!ClassConnection::configured(ClassConnection::kComputer))
        return {};
    return [reachable = std::optional<QString>()](HistoryDatabase &history) mutable {
        const int waiting = unsentCount(history);
        if (waiting == 0)
            return QString();
        if (!reachable) {
            ClassConnection server(ClassConnection::kComputer,
                                   QStringLiteral("additions-class-status"));
            reachable = server.open() ? QString() : server.problem();
        }
        return QStringLiteral("%1 réponse(s) de cet ordinateur attendent d'être envoyées au "
                              "serveur de la classe. %2")
            .arg(waiting)
            .arg(*reachable)
            .trimmed();
    };
}
