// SPDX-License-Identifier: GPL-3.0-or-later
// A class's server under a class answering at once: MACHINES computers, each
// sending ANSWERS answers as fast as the server takes them through the
// function the game calls, while a teacher's connection listens. Prints the
// server's throughput (answers/s), the p50 and p99 of one send (ms), and the
// p50 and p99 of the time from a send to the teacher hearing of it (ms);
// then, over the answers the server holds, the teacher's class view: the
// time to fill it and the longest the window was held up (ms).
//   class_bench HOST PORT MACHINES ANSWERS
// The server's database "additions" has the roles poste1 … and prof, a
// teacher of their class; the teacher's view reads it through the service
// "additions-enseignant" of $PGSERVICEFILE.
#include "progress/class_tab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTableWidget>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>

namespace {

QElapsedTimer clock_;
QMutex lock;
std::map<QString, std::deque<qint64>> sentAt; // per computer, the sends not yet heard
std::vector<double> sendMs, heardMs;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

QString host, port;

QSqlDatabase connectAs(const QString &role, const QString &name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setConnectOptions(
        QStringLiteral("host=%1;port=%2;dbname=additions;user=%3").arg(host, port, role));
    db.open();
    return db;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 5)
        return 2;
    host = QString::fromLocal8Bit(argv[1]);
    port = QString::fromLocal8Bit(argv[2]);
    const int machines = QString::fromLocal8Bit(argv[3]).toInt();
    const int answers = QString::fromLocal8Bit(argv[4]).toInt();
    clock_.start();

    QSqlDatabase teacher = connectAs(QStringLiteral("prof"), QStringLiteral("teacher"));
    if (!teacher.isOpen() || !teacher.driver()->subscribeToNotification(QStringLiteral("reponses")))
        return 1;
    int heard = 0;
    QObject::connect(teacher.driver(), &QSqlDriver::notification,
                     [&](const QString &, QSqlDriver::NotificationSource, const QVariant &who) {
                         QMutexLocker locked(&lock);
                         auto &pending = sentAt[who.toString()];
                         if (!pending.empty()) {
                             heardMs.push_back(double(clock_.nsecsElapsed() - pending.front()) /
                                               1e6);
                             pending.pop_front();
                         }
                         ++heard;
                     });

    QList<QThread *> threads;
    const qint64 start = clock_.nsecsElapsed();
    for (int m = 0; m < machines; ++m)
        threads << QThread::create([&, m] {
            // A connection belongs to the thread that uses it.
            const QString name = QStringLiteral("poste%1").arg(m + 1);
            QSqlDatabase db = connectAs(name, name);
            QSqlQuery record(db);
            record.prepare(QStringLiteral(
                "SELECT additions.record_answer(?, '1_joueur', 50, '12', '39', '51', true, 1, "
                "'1', true, now())"));
            for (int i = 0; i < answers; ++i) {
                record.addBindValue(QUuid::createUuid());
                const qint64 before = clock_.nsecsElapsed();
                {
                    QMutexLocker locked(&lock);
                    sentAt[name].push_back(before);
                }
                record.exec();
                QMutexLocker locked(&lock);
                sendMs.push_back(double(clock_.nsecsElapsed() - before) / 1e6);
            }
        });
    for (QThread *thread : threads)
        thread->start();
    for (QThread *thread : threads)
        while (!thread->wait(10))
            QApplication::processEvents();
    const double seconds = double(clock_.nsecsElapsed() - start) / 1e9;
    QElapsedTimer waited;
    waited.start();
    while (heard < machines * answers && waited.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);

    // The teacher's view over what the server now holds.
    QElapsedTimer opening;
    opening.start();
    ClassTab view;
    view.show();
    double longest = 0;
    QElapsedTimer turn;
    turn.start();
    const auto filled = [&] {
        const auto tables = view.findChildren<QTableWidget *>();
        return !tables.isEmpty() && tables.first()->rowCount() > 0;
    };
    while (!filled() && opening.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, double(turn.nsecsElapsed()) / 1e6);
        turn.restart();
    }
    std::printf("%d | %d | %.0f | %.1f | %.1f | %.1f | %.1f | %.0f | %.1f\n", machines,
                machines * answers, double(machines * answers) / seconds, percentile(sendMs, 0.5),
                percentile(sendMs, 0.99), percentile(heardMs, 0.5), percentile(heardMs, 0.99),
                double(opening.nsecsElapsed()) / 1e6, longest);
    for (QThread *thread : threads)
        delete thread;
}
