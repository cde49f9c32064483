// SPDX-License-Identifier: GPL-3.0-or-later
// A class's server under a school, and a teacher's class view over it.
//
//   class_bench school CLASSES COMPUTERS SECONDS INTERVAL_MS FLOODERS
// CLASSES classes of COMPUTERS computers each answer for SECONDS, each
// every INTERVAL_MS (jittered), through the libpq services of
// $PGSERVICEFILE: c<class>p<n> for the computers, t<class> for the
// teachers, "vol" for a computer of class 1 whose password was stolen.
// A computer sends as the game's sender does, through one connection it
// keeps: each try asks the server who it is, then sends the answers
// waiting in one transaction, a savepoint each; a failed try closes the
// connection and is tried again 2 s later, then 4, 8… up to 60 s, the
// answers clicked meanwhile waiting with it; a crowded server gets the
// connection back after each try. The stolen password floods through
// FLOODERS connections at full speed. Each teacher's view asks every
// second for its computers' changes, and reads its classes again when they
// moved: an answer is heard at the end of the first such read begun after
// the server had it. Answers left waiting at the end get 10 s more, then
// each teacher reads its classes' answer ids, checked against those the
// computers made. Prints the honest answers made; the p50 and p99 of the
// time from an answer to the server having it, and to its teacher hearing
// of it, then that p99 over the answers made from the 10th second (ms;
// "inf" when more than 1% or 50% never did); the answers the server took
// but does not hold, and those it holds twice or that no computer made;
// those still waiting on their computer; the flood's answers taken and
// refused.
//
//   class_bench view
// The class view of teacher "prof", through the service
// "additions-enseignant" of $PGSERVICEFILE, over what the server holds:
// the time to fill it and the longest the window was held up (ms).
#include "classroom/class_connection.h"
#include "history/history_row.h"
#include "progress/class_tab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <limits>
#include <vector>

using namespace std::chrono_literals;

namespace {

QElapsedTimer clock_;
// Microseconds since the start.
qint64 now()
{
    return clock_.nsecsElapsed() / 1000;
}
constexpr qint64 kNever = std::numeric_limits<qint64>::max();
constexpr qint64 kSecond = 1000000;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// An honest answer; its times in microseconds since the start, -1 until then.
struct Answer
{
    QUuid id;
    qint64 made;
    qint64 sent = -1;
    qint64 heard = -1;
};

// An answer's values, bound as the game's sender binds them.
void bind(QSqlQuery &record, const QUuid &id, const QDateTime &when)
{
    for (const QVariant &value :
         {QVariant(id), QVariant(QStringLiteral("1_joueur")), QVariant(50),
          QVariant(QStringLiteral("12")), QVariant(QStringLiteral("39")),
          QVariant(QStringLiteral("51")), QVariant(true), QVariant(1),
          QVariant(QStringLiteral("1")), QVariant(true), QVariant(storedTime(when)),
          QVariant(storedTime(QDateTime::currentDateTimeUtc()))})
        record.addBindValue(value);
}
const QString kRecord =
    QStringLiteral("SELECT additions.record_answer(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");

// One try of the game's sender (ClassSender::sendAll) over a computer's
// waiting answers; false, the connection closed, when it failed, and `lost`
// when the server had ended the connection. `crowded` when the server has
// few connections left: the game then closes its own after the try.
bool sendAll(ClassConnection &server, const std::vector<Answer *> &outbox, const QDateTime &start,
             bool &lost, bool &crowded)
{
    if (!server.open())
        return false;
    QSqlDatabase &db = server.db();
    QSqlError error;
    {
        QSqlQuery ask(db);
        if (ask.exec(QStringLiteral(
                "SELECT identity, last_erasure, additions.version(), (SELECT count(*) FROM "
                "pg_stat_activity) > current_setting('max_connections')::int - 15 FROM "
                "additions.computer_state()")) &&
            ask.next())
            crowded = ask.value(3).toBool();
        else
            error = ask.lastError();
    }
    for (size_t first = 0; !error.isValid() && first < outbox.size(); first += 50) {
        if (!db.transaction()) {
            error = db.lastError();
            break;
        }
        {
            QSqlQuery savepoint(db), record(db);
            record.prepare(kRecord);
            for (size_t i = first; !error.isValid() && i < std::min(outbox.size(), first + 50);
                 ++i) {
                bind(record, outbox[i]->id, start.addMSecs(outbox[i]->made / 1000));
                if (!savepoint.exec(QStringLiteral("SAVEPOINT answer")))
                    error = savepoint.lastError();
                else if (!record.exec() || !record.next())
                    error = record.lastError();
            }
        }
        if (!error.isValid() && !db.commit())
            error = db.lastError();
    }
    if (!error.isValid())
        return true;
    const QString state = error.nativeErrorCode();
    lost = state.isEmpty() || state.startsWith(u"08") || state.startsWith(u"57P");
    if (db.isOpen())
        db.rollback();
    return server.failed(error.text());
}

// What the teacher's view asks every second, and reads when it changed:
// its classes with the changes at one moment.
const QString kChanges =
    QStringLiteral("SELECT coalesce(sum(changes), 0) || ':' || count(*) || ':' || (SELECT "
                   "count(*) FROM additions.teachers) FROM additions.machines");
const QString kClassRead[] = {
    QStringLiteral("SELECT c.machine, c.player, c.answers, c.right_answers, (extract(epoch FROM "
                   "c.last_at) * 1000)::bigint, r.bound, cardinality(r.results), "
                   "cardinality(array_positions(r.results, true)) FROM additions.children c LEFT "
                   "JOIN additions.recent r ON r.machine = c.machine AND r.player = c.player "
                   "ORDER BY c.machine, c.player"),
    QStringLiteral("SELECT carries, SUM(answers), SUM(right_answers) FROM additions.totals WHERE "
                   "carries >= 0 GROUP BY carries"),
    QStringLiteral("COMMIT")};

int school(int classes, int computers, int seconds, int intervalMs, int flooders)
{
    QMutex lock; // over what follows
    std::deque<Answer> made;
    std::vector<std::vector<Answer *>> unheard(size_t(classes) + 1); // sent, per class
    QHash<QUuid, int> onServer;
    std::atomic<int> ready = 0, unread = 0, floodTaken = 0, floodRefused = 0;
    std::atomic<bool> polling = true;
    const QDateTime start = QDateTime::currentDateTimeUtc().addMSecs(-now() / 1000);

    // The teachers' views are open before the class starts.
    QList<QThread *> teachers, others;
    for (int c = 1; c <= classes; ++c)
        teachers << QThread::create([&, c] {
            const QByteArray role = "t" + QByteArray::number(c);
            ClassConnection server(role.constData(), QString::fromLatin1(role), 20s);
            ready += server.open();
            QString seen;
            qint64 nextTry = 0;
            for (qint64 poll = now(); polling; poll = std::max(poll + kSecond, now())) {
                QThread::usleep(quint64(std::max<qint64>(0, poll - now())));
                // A server away is asked again every five seconds.
                if (!server.db().isOpen()) {
                    if (now() < nextTry)
                        continue;
                    nextTry = now() + 5 * kSecond;
                    seen.clear();
                    if (!server.open())
                        continue;
                }
                QSqlQuery query(server.db());
                bool read = query.exec(kChanges) && query.next();
                if (read && query.value(0).toString() == seen)
                    continue;
                const qint64 asked = now();
                QString changes;
                read =
                    read &&
                    query.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) &&
                    query.exec(kChanges) && query.next();
                if (read)
                    changes = query.value(0).toString();
                for (const QString &statement : kClassRead) {
                    read = read && query.exec(statement);
                    while (read && query.next()) {
                    }
                }
                if (!read) {
                    query = QSqlQuery();
                    server.failed(QString());
                    continue;
                }
                seen = changes;
                // Its own classes' computers, and no other.
                if (changes.section(u':', 1, 1).toInt() != computers + (c == 1))
                    continue;
                const qint64 heard = now();
                QMutexLocker locked(&lock);
                std::erase_if(unheard[size_t(c)], [&](Answer *answer) {
                    if (answer->sent >= asked)
                        return false;
                    answer->heard = heard;
                    return true;
                });
            }
            // What the server holds of the class, as its teacher reads it.
            const bool open = server.open();
            QSqlQuery ids(server.db());
            if (!open || !ids.exec(QStringLiteral(
                             "SELECT id FROM additions.answers WHERE machine <> 'vol'"))) {
                ++unread;
                return;
            }
            QMutexLocker locked(&lock);
            while (ids.next())
                ++onServer[QUuid(ids.value(0).toString())];
        });
    for (QThread *thread : teachers)
        thread->start();
    while (ready < classes && now() < 10 * kSecond)
        QThread::msleep(10);

    const qint64 begin = now(), end = begin + seconds * kSecond, drain = end + 10 * kSecond;
    for (int f = 0; f < flooders; ++f)
        others << QThread::create([&, f] {
            ClassConnection server("vol", QStringLiteral("vol%1").arg(f), 10s);
            while (now() < end && !server.open())
                QThread::msleep(100);
            QSqlQuery record(server.db());
            record.prepare(kRecord);
            while (now() < end) {
                bind(record, QUuid::createUuid(), QDateTime::currentDateTimeUtc());
                ++(record.exec() ? floodTaken : floodRefused);
            }
        });
    for (int c = 1; c <= classes; ++c)
        for (int n = 1; n <= computers; ++n)
            others << QThread::create([&, c, n] {
                const QByteArray role = QStringLiteral("c%1p%2").arg(c).arg(n).toLatin1();
                ClassConnection server(role.constData(), QString::fromLatin1(role), 10s);
                QRandomGenerator random(quint32(c * 1000 + n));
                const auto jitter = [&] { return qint64(random.bounded(intervalMs)) * 1000; };
                // As the game's recorder: an answer written is sent at once,
                // unless a failed try is to be tried again later.
                qint64 next = begin + jitter(), tryAt = kNever, retry = 2 * kSecond;
                std::vector<Answer *> outbox;
                for (qint64 t = now(); t < end || (!outbox.empty() && t < drain); t = now()) {
                    for (; next <= std::min(t, end); next += intervalMs * 500 + jitter()) {
                        QMutexLocker locked(&lock);
                        outbox.push_back(&made.emplace_back(Answer{QUuid::createUuid(), next}));
                        if (tryAt == kNever)
                            tryAt = next;
                    }
                    if (next > end)
                        next = kNever;
                    if (tryAt > t) {
                        const qint64 wake = std::min({next, tryAt, t < end ? end : drain});
                        QThread::usleep(quint64(wake - t));
                        continue;
                    }
                    // A kept connection the server ended is opened again at
                    // once, once; a crowded server gets it back.
                    const bool reused = server.db().isOpen();
                    bool lost = false, crowded = false;
                    const bool sent =
                        sendAll(server, outbox, start, lost, crowded) ||
                        (reused && lost && sendAll(server, outbox, start, lost, crowded));
                    const qint64 done = now();
                    if (crowded)
                        server.close();
                    if (sent) {
                        QMutexLocker locked(&lock);
                        for (Answer *answer : outbox) {
                            answer->sent = done;
                            unheard[size_t(c)].push_back(answer);
                        }
                        outbox.clear();
                        tryAt = kNever;
                        retry = 2 * kSecond;
                    } else {
                        tryAt = now() + retry;
                        retry = std::min(retry * 2, 60 * kSecond);
                    }
                }
            });
    for (QThread *thread : others)
        thread->start();
    for (QThread *thread : others)
        thread->wait();
    // The last answers sent are heard within the next two reads.
    QThread::msleep(2500);
    polling = false;
    for (QThread *thread : teachers)
        thread->wait();
    qDeleteAll(teachers + others);
    if (unread > 0)
        return 1;

    std::vector<double> sendMs, heardMs, heardLaterMs; // later: once the computers are connected
    int lost = 0, duplicated = 0, waiting = 0;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    for (const Answer &answer : made) {
        sendMs.push_back(answer.sent < 0 ? kInfinity : double(answer.sent - answer.made) / 1000);
        heardMs.push_back(answer.heard < 0 ? kInfinity : double(answer.heard - answer.made) / 1000);
        if (answer.made >= begin + 10 * kSecond)
            heardLaterMs.push_back(heardMs.back());
        waiting += answer.sent < 0;
        const int copies = onServer.take(answer.id);
        lost += answer.sent >= 0 && copies == 0;
        duplicated += std::max(0, copies - 1);
    }
    for (int copies : std::as_const(onServer)) // made by no honest computer
        duplicated += copies;
    std::printf("%d|%zu|%.1f|%.1f|%.1f|%.1f|%.1f|%d|%d|%d|%d|%d\n", classes * computers,
                made.size(), percentile(sendMs, 0.5), percentile(sendMs, 0.99),
                percentile(heardMs, 0.5), percentile(heardMs, 0.99), percentile(heardLaterMs, 0.99),
                lost, duplicated, waiting, floodTaken.load(), floodRefused.load());
    return 0;
}

int view()
{
    QElapsedTimer opening;
    opening.start();
    ClassTab tab;
    tab.show();
    double longest = 0;
    QElapsedTimer turn;
    turn.start();
    QTableView *children = nullptr;
    for (QTableView *table : tab.findChildren<QTableView *>())
        if (table->accessibleName() == u"élèves de la classe")
            children = table;
    const auto rows = [&] { return children ? children->model()->rowCount() : 0; };
    const auto filled = [&] { return rows() > 0; };
    while (!filled() && opening.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, double(turn.nsecsElapsed()) / 1e6);
        turn.restart();
    }
    std::printf("%d | %.0f | %.1f\n", rows(), double(opening.nsecsElapsed()) / 1e6, longest);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    clock_.start();
    if (arguments.value(1) == u"school" && arguments.size() == 7)
        return school(arguments[2].toInt(), arguments[3].toInt(), arguments[4].toInt(),
                      arguments[5].toInt(), arguments[6].toInt());
    if (arguments.value(1) == u"view")
        return view();
    return 2;
}
