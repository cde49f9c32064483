// SPDX-License-Identifier: GPL-3.0-or-later
// A class's server under a school, and a teacher's class view over it.
//
//   class_bench HOST PORT school CLASSES COMPUTERS SECONDS INTERVAL_MS FLOODERS
// CLASSES classes of COMPUTERS computers each (roles c<class>p<n>, teachers
// t<class>) answer for SECONDS, each every INTERVAL_MS (jittered), as the
// game sends: a connection opened, one answer recorded, the connection
// closed. Meanwhile the stolen password of a computer of class 1 (role
// "vol") floods through FLOODERS connections at full speed (3 is its
// limit), and each teacher's
// connection listens on its class's channel. Prints the honest computers'
// answers sent, the p50 and p99 of one send (ms), the p50 and p99 of the
// time from a send to its teacher hearing of it (ms, classes 2 and up),
// the flood's answers taken and refused, the notifications a teacher heard
// beyond its own class's answers, and how often the class view of class 1,
// which the flood reaches, loaded again (through the service
// "additions-enseignant" of $PGSERVICEFILE, teacher t1).
//
//   class_bench HOST PORT view
// The class view of teacher "prof", through the service
// "additions-enseignant" of $PGSERVICEFILE, over what the server holds:
// the time to fill it and the longest the window was held up (ms).
#include "classroom/class_queries.h"
#include "progress/class_tab.h"
#include "services/worker_thread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTableView>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>

namespace {

QElapsedTimer clock_;
QString host, port;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void configure(QSqlDatabase &db, const QString &role)
{
    db.setConnectOptions(
        QStringLiteral("host=%1;port=%2;dbname=additions;user=%3").arg(host, port, role));
}

const QString kRecord = QStringLiteral(
    "SELECT additions.record_answer(?, '1_joueur', 50, '12', '39', '51', true, 1, '1', true, "
    "now(), now())");

int school(int classes, int computers, int seconds, int intervalMs, int flooders)
{
    QMutex lock;
    std::map<int, std::deque<qint64>> unheard; // per class, the sends its teacher awaits
    std::vector<double> sendMs, heardMs;
    std::vector<int> heard(size_t(classes) + 1, 0), sent(size_t(classes) + 1, 0);

    // Each teacher listens on the one channel its class has.
    std::vector<QSqlDatabase> teachers;
    for (int c = 1; c <= classes; ++c) {
        QSqlDatabase teacher =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("t%1").arg(c));
        configure(teacher, QStringLiteral("t%1").arg(c));
        QSqlQuery channel(teacher);
        if (!teacher.open() ||
            !channel.exec(QStringLiteral("SELECT channel FROM additions.classes")) ||
            !channel.next() ||
            !teacher.driver()->subscribeToNotification(channel.value(0).toString()))
            return 1;
        QObject::connect(teacher.driver(), &QSqlDriver::notification, [&, c] {
            QMutexLocker locked(&lock);
            ++heard[size_t(c)];
            auto &pending = unheard[c];
            if (c > 1 && !pending.empty()) {
                heardMs.push_back(double(clock_.nsecsElapsed() - pending.front()) / 1e6);
                pending.pop_front();
            }
        });
        teachers.push_back(teacher);
    }

    // Class 1's view, on its thread, as a teacher's Progrès follows it.
    auto *queries = new ClassQueries;
    WorkerThread viewThread(queries);
    QObject context;
    int reloads = 0;
    QObject::connect(queries, &ClassQueries::loaded, &context, [&reloads] { ++reloads; });
    viewThread.post([queries] { queries->load(); });

    const qint64 end = clock_.nsecsElapsed() + qint64(seconds) * 1000000000;
    std::atomic<int> floodTaken = 0, floodRefused = 0;
    QList<QThread *> threads;
    for (int f = 0; f < flooders; ++f)
        threads << QThread::create([&, f] {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("vol%1").arg(f));
            configure(db, QStringLiteral("vol"));
            if (!db.open())
                return;
            QSqlQuery record(db);
            record.prepare(kRecord);
            while (clock_.nsecsElapsed() < end) {
                record.addBindValue(QUuid::createUuid());
                ++(record.exec() ? floodTaken : floodRefused);
            }
        });
    for (int c = 1; c <= classes; ++c)
        for (int n = 1; n <= computers; ++n)
            threads << QThread::create([&, c, n] {
                const QString role = QStringLiteral("c%1p%2").arg(c).arg(n);
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), role);
                configure(db, role);
                QRandomGenerator random(quint32(c * 1000 + n));
                QThread::msleep(random.bounded(quint32(intervalMs)));
                while (clock_.nsecsElapsed() < end) {
                    const qint64 before = clock_.nsecsElapsed();
                    bool recorded = false;
                    if (db.open()) {
                        QSqlQuery record(db);
                        record.prepare(kRecord);
                        record.addBindValue(QUuid::createUuid());
                        recorded = record.exec();
                        record.finish();
                        db.close();
                    }
                    const qint64 after = clock_.nsecsElapsed();
                    {
                        QMutexLocker locked(&lock);
                        sendMs.push_back(double(after - before) / 1e6);
                        if (recorded) {
                            ++sent[size_t(c)];
                            unheard[c].push_back(after);
                        }
                    }
                    QThread::msleep(quint32(intervalMs / 2) + random.bounded(quint32(intervalMs)));
                }
            });
    for (QThread *thread : threads)
        thread->start();
    for (QThread *thread : threads)
        while (!thread->wait(10))
            QApplication::processEvents();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    int honest = 0, foreign = 0;
    for (int c = 1; c <= classes; ++c) {
        honest += sent[size_t(c)];
        // Class 1 also hears the flood, which is one of its computers.
        if (c > 1)
            foreign += std::max(0, heard[size_t(c)] - sent[size_t(c)]);
    }
    viewThread.stop(std::chrono::seconds(5));
    std::printf("%d | %d | %.1f | %.1f | %.1f | %.1f | %d | %d | %d | %d\n", classes * computers,
                honest, percentile(sendMs, 0.5), percentile(sendMs, 0.99), percentile(heardMs, 0.5),
                percentile(heardMs, 0.99), floodTaken.load(), floodRefused.load(), foreign,
                reloads);
    qDeleteAll(threads);
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
    host = arguments.value(1);
    port = arguments.value(2);
    clock_.start();
    if (arguments.value(3) == u"school" && arguments.size() == 9)
        return school(arguments[4].toInt(), arguments[5].toInt(), arguments[6].toInt(),
                      arguments[7].toInt(), arguments[8].toInt());
    if (arguments.value(3) == u"view")
        return view();
    return 2;
}
