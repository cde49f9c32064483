// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_sender.h"

#include "history/history_database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <optional>

using namespace std::chrono_literals;

namespace {

// Each answer of a batch has a savepoint: at most PostgreSQL's 64 kept in
// memory, past which every session's snapshots slow down.
constexpr int kBatch = 50;
// Statements of the sender's own, on a server that another session blocks
// or that is busy: the answers wait for the next try.
constexpr auto kStatementLimit = 10s;

// An answer the class's server does not have yet.
struct PendingAnswer
{
    qint64 id = 0;
    QString uuid;
    HistoryRow row;
};

// Runs one statement on the history, its values bound in order.
bool runOn(HistoryDatabase &history, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(history.connection());
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() || history.failed(query.lastError());
}

// The oldest answers not yet on the class's server, at most `count`.
// Answers recorded before a class was set up get their id now.
std::optional<QList<PendingAnswer>> unsent(HistoryDatabase &history, int count)
{
    if (!history.isOpen())
        return std::nullopt;
    QSqlQuery query(history.connection());
    query.prepare(QStringLiteral("SELECT %1, id, uuid, boot_id, since_boot_ms FROM answers "
                                 "WHERE sent = 0 ORDER BY id LIMIT ?")
                      .arg(QString::fromLatin1(kAnswerColumns)));
    query.addBindValue(count);
    if (!query.exec()) {
        history.failed(query.lastError());
        return std::nullopt;
    }
    QList<PendingAnswer> pending;
    while (query.next()) {
        HistoryRow row = rowOf(query);
        if (!query.isNull(12))
            row.boot = {query.value(12).toString(), query.value(13).toLongLong()};
        pending.append({query.value(10).toLongLong(), query.value(11).toString(), row});
    }
    query.finish();
    for (PendingAnswer &answer : pending) {
        if (!answer.uuid.isEmpty())
            continue;
        answer.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!runOn(history,
                   QStringLiteral("UPDATE answers SET uuid = ? WHERE id = ? AND uuid IS NULL"),
                   {answer.uuid, answer.id}))
            return std::nullopt;
    }
    return pending;
}

// What became of a batch on the server: each answer sent (or known
// already), forgotten (certainly made before its child's answers were
// erased there), or refused, with the reason.
struct BatchOutcome
{
    QList<qint64> sent;
    QList<qint64> erased;
    QList<qint64> unsure; // erased there, but maybe made after: kept here
    QList<std::pair<qint64, QString>> refused;
};

// Marks it in the history, all or nothing: were the marks lost, the next
// try sends the answers again, and the server keeps each once.
bool keepOutcome(HistoryDatabase &history, const BatchOutcome &outcome)
{
    QSqlDatabase &db = history.connection();
    if (!db.transaction())
        return history.failed(db.lastError());
    bool kept = true;
    for (qint64 id : outcome.sent)
        kept = kept &&
               runOn(history, QStringLiteral("UPDATE answers SET sent = 1 WHERE id = ?"), {id});
    for (qint64 id : outcome.erased)
        kept = kept && runOn(history, QStringLiteral("DELETE FROM answers WHERE id = ?"), {id});
    for (qint64 id : outcome.unsure)
        kept = kept &&
               runOn(history, QStringLiteral("UPDATE answers SET sent = 3 WHERE id = ?"), {id});
    for (const auto &[id, reason] : outcome.refused)
        kept =
            kept &&
            runOn(history, QStringLiteral("UPDATE answers SET sent = 2, refusal = ? WHERE id = ?"),
                  {reason.left(1000), id});
    if (kept && db.commit())
        return true;
    const QSqlError error = db.lastError();
    db.rollback();
    return kept ? history.failed(error) : false;
}

// A failure that goes by itself, for which the answer waits and the queue
// holds: the connection lost (no code, or class 08), a conflict with another
// session (40001, 40P01), a server out of resources or past the computer's
// hourly limit (class 53), a lock or statement that took too long (55P03,
// 57014), a server shutting down or starting (57P), or read-only for now
// (25006: a standby, until it is promoted). Anything else is about
// that one answer, which is set aside.
bool transient(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return state.isEmpty() || state.startsWith(u"08") || state.startsWith(u"53") ||
           state.startsWith(u"57P") ||
           QStringList{QStringLiteral("25006"), QStringLiteral("40001"), QStringLiteral("40P01"),
                       QStringLiteral("55P03"), QStringLiteral("57014")}
               .contains(state);
}

// Whether the connection itself went: no answer, or the server ending it.
bool connectionLost(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return state.isEmpty() || state.startsWith(u"08") || state.startsWith(u"57P");
}

// Why a send waits, in French, from the server's code.
QString passingCause(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    if (state == u"55P03" || state == u"57014")
        return QStringLiteral("il était occupé (une autre session tenait cet ordinateur, ou une "
                              "requête a dépassé son temps)");
    if (state == u"53400")
        return QStringLiteral("cet ordinateur a envoyé plus de réponses en une heure qu'il n'en "
                              "prend");
    if (state.startsWith(u"53"))
        return QStringLiteral("il manque de ressources");
    if (state.startsWith(u"57P"))
        return QStringLiteral("il redémarre ou s'arrête");
    if (state == u"25006")
        return QStringLiteral("il ne prend rien pour l'instant (serveur de secours)");
    if (state.startsWith(u"40"))
        return QStringLiteral("une autre session écrivait en même temps");
    return QStringLiteral("la connexion a été perdue");
}

// A value of the outbox's state: what it last knew of its server.
QString stateValue(HistoryDatabase &history, const char *name)
{
    QSqlQuery query(history.connection());
    query.prepare(QStringLiteral("SELECT value FROM outbox_state WHERE name = ?"));
    query.addBindValue(QString::fromLatin1(name));
    return query.exec() && query.next() ? query.value(0).toString() : QString();
}

bool keepStateValue(HistoryDatabase &history, const char *name, const QString &value)
{
    return runOn(history, QStringLiteral("INSERT OR REPLACE INTO outbox_state VALUES (?, ?)"),
                 {QString::fromLatin1(name), value});
}

// How many answers wait, and those the server refused, by reason.
struct OutboxCounts
{
    int waiting = 0;
    QList<std::pair<QString, int>> refused;
};

OutboxCounts outboxCounts(HistoryDatabase &history)
{
    QSqlQuery query(history.connection());
    OutboxCounts counts;
    if (query.exec(QStringLiteral("SELECT COUNT(*) FROM answers WHERE sent = 0")) && query.next())
        counts.waiting = query.value(0).toInt();
    if (query.exec(QStringLiteral("SELECT refusal, COUNT(*) FROM answers WHERE sent = 2 GROUP BY "
                                  "refusal ORDER BY MAX(id) DESC")))
        while (query.next())
            counts.refused.append({query.value(0).toString(), query.value(1).toInt()});
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
    // A sender waits on its own thread: a server that a whole school
    // reaches at once is given time to take each.
    : m_server(ClassConnection::kComputer, connectionName, kStatementLimit,
               std::chrono::seconds(10))
{}

bool ClassSender::meetServer(HistoryDatabase &history)
{
    QSqlQuery query(m_server.db());
    const auto refused = [this, &query] {
        const QSqlError error = query.lastError();
        query = QSqlQuery();
        // A connection the server ended, or a server whose version changed
        // under it (no such function): opened again at once, and asked.
        m_connectionLost = connectionLost(error) || error.nativeErrorCode() == u"42883";
        return m_server.failed(QStringLiteral("Le serveur de la classe n'a pas répondu."),
                               error.text().trimmed());
    };
    // A server with few connections left (a school's 100 computers on the
    // default max_connections) gets this one back after each try, so that
    // every computer finds a place in turn.
    if (!query.exec(QStringLiteral(
            "SELECT identity, last_erasure, additions.version(), (SELECT count(*) FROM "
            "pg_stat_activity) > current_setting('max_connections')::int - 15 FROM "
            "additions.computer_state()")) ||
        !query.next())
        return refused();
    m_crowded = query.value(3).toBool();
    if (query.value(2).toInt() != ClassConnection::kSchemaVersion) {
        query = QSqlQuery();
        m_server.close();
        m_connectionLost = true;
        return false;
    }
    const QString identity = query.value(0).toString();
    const QString erasure = query.isNull(1) ? QString() : storedTime(query.value(1).toDateTime());
    const QString known = stateValue(history, "identity");
    const bool erasedSince = erasure != stateValue(history, "erasure");
    // Answers set aside are offered again at each start, every hour, and
    // after an erasure on the server: those it now takes go.
    const bool offerAgain = m_offerAgain.hasExpired() || erasedSince;
    if (known == identity && !offerAgain)
        return true;
    // A child's answers erased there are never sent again, to this server
    // or to another.
    QList<std::pair<QString, QString>> erased;
    if (erasedSince) {
        if (!query.exec(QStringLiteral("SELECT player, erased_at FROM additions.erased_players()")))
            return refused();
        while (query.next())
            erased.append({query.value(0).toString(), storedTime(query.value(1).toDateTime())});
    }
    query = QSqlQuery();
    QSqlDatabase &db = history.connection();
    if (!db.transaction())
        return history.failed(db.lastError());
    bool kept = true;
    for (const auto &[player, when] : erased)
        kept = kept && runOn(history,
                             QStringLiteral("UPDATE answers SET sent = 3 WHERE sent = 1 AND player "
                                            "= ? AND answered_at <= ?"),
                             {player, when});
    // Another database than the one that took the answers gets them all
    // again; the ids keep each once, and one started afresh drops those made
    // before.
    if (kept && !known.isEmpty() && known != identity)
        kept = runOn(history, QStringLiteral("UPDATE answers SET sent = 0 WHERE sent = 1"));
    if (kept && offerAgain)
        kept = runOn(history,
                     QStringLiteral("UPDATE answers SET sent = 0, refusal = NULL WHERE sent = 2"));
    kept = kept && keepStateValue(history, "identity", identity) &&
           keepStateValue(history, "erasure", erasure);
    if (!kept || !db.commit()) {
        db.rollback();
        return history.failed(db.lastError());
    }
    if (offerAgain)
        m_offerAgain.setRemainingTime(1h);
    return true;
}

bool ClassSender::forward(HistoryDatabase &history)
{
    const bool reused = m_server.db().isOpen();
    // Qt's driver finds out that the server ended a connection only when
    // a statement fails on it.
    const bool sent = sendAll(history) || (reused && m_connectionLost && sendAll(history));
    if (m_crowded)
        rest();
    return sent;
}

bool ClassSender::sendAll(HistoryDatabase &history)
{
    m_connectionLost = false;
    if (!m_server.open()) {
        m_problem = m_server.problem() + QStringLiteral(" Les réponses restent sur cet ordinateur "
                                                        "et partiront dès qu'il répondra.");
        return false;
    }
    // Each try asks who the server is (a version, an identity, its
    // erasures): a kept connection too, whose server may have changed.
    if (!meetServer(history)) {
        m_problem = history.problem().isEmpty() ? m_server.problem() : history.problem();
        return false;
    }
    QSqlDatabase &db = m_server.db();
    // The queries go before the connection closes, which would leave them
    // nothing to free their statements on.
    const auto failed = [this, &db](const QSqlError &error,
                                    std::initializer_list<QSqlQuery *> queries = {}) {
        m_connectionLost = connectionLost(error);
        if (db.isOpen())
            db.rollback();
        for (QSqlQuery *query : queries)
            *query = QSqlQuery();
        m_problem = QStringLiteral("Le serveur de la classe n'a pas pris les réponses pour "
                                   "l'instant : %1. Elles restent sur cet ordinateur et "
                                   "partiront au prochain essai.")
                        .arg(passingCause(error));
        return m_server.failed(m_problem, error.text().trimmed());
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
            return failed(db.lastError());
        // One answer the server refuses is set aside, and the others go.
        QSqlQuery savepoint(db), record(db);
        record.prepare(
            QStringLiteral("SELECT additions.record_answer(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        // Each answer's time as this computer's clock reads it now, set
        // right by the time since start-up when it was made since; the
        // server sets this clock right by how far it is from its own.
        const QDateTime clock = QDateTime::currentDateTimeUtc();
        const BootInstant now = BootInstant::now();
        BatchOutcome outcome;
        for (const PendingAnswer &pending : *batch) {
            const AnswerRecord &a = pending.row.answer;
            const TrustedTime when = whenItHappened(pending.row.when, pending.row.boot, now, clock);
            for (const QVariant &value :
                 {QVariant(QUuid::fromString(pending.uuid)), QVariant(a.player), QVariant(a.bound),
                  QVariant(a.first), QVariant(a.second), QVariant(a.answer), QVariant(a.right),
                  QVariant(a.stake), QVariant(a.scoreAfter), QVariant(a.scoreKept),
                  QVariant(storedTime(when.when)), QVariant(storedTime(clock))})
                record.addBindValue(value);
            if (!savepoint.exec(QStringLiteral("SAVEPOINT answer")))
                return failed(savepoint.lastError(), {&savepoint, &record});
            if (record.exec() && record.next()) {
                // Made before its child's answers were erased there: it
                // leaves this computer too, when its time is certain.
                const QString said = record.value(0).toString();
                (said != u"erased" ? outcome.sent
                 : when.certain    ? outcome.erased
                                   : outcome.unsure)
                    << pending.id;
            } else if (const QSqlError error = record.lastError(); !transient(error)) {
                if (!savepoint.exec(QStringLiteral("ROLLBACK TO SAVEPOINT answer")))
                    return failed(savepoint.lastError(), {&savepoint, &record});
                outcome.refused.append({pending.id, serverRefusal(error)});
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
        if (!counts.refused.isEmpty()) {
            QStringList reasons;
            int refused = 0;
            for (const auto &[reason, count] : counts.refused) {
                reasons << QStringLiteral("« %1 » : %2").arg(reason).arg(count);
                refused += count;
            }
            status.text += QStringLiteral("%1 réponse(s) ont été refusées par le serveur de la "
                                          "classe (%2) : elles restent dans l'historique de cet "
                                          "ordinateur, et seront proposées de nouveau au serveur "
                                          "au prochain démarrage du jeu.")
                               .arg(refused)
                               .arg(reasons.join(QStringLiteral(" ; ")));
        }
        status.text = status.text.simplified();
        return status;
    };
}
