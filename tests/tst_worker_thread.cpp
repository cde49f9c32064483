// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/worker_thread.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace std::chrono_literals;

namespace {

// Says on which thread it was destroyed.
class Worker final : public QObject
{
public:
    explicit Worker(std::atomic<QThread *> *diedOn) : m_diedOn(diedOn) {}
    ~Worker() override { *m_diedOn = QThread::currentThread(); }

private:
    std::atomic<QThread *> *m_diedOn;
};

} // namespace

// The one idiom for work off the window's thread: the beep, the history's
// writes, Progrès's and the class's queries.
class TestWorkerThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Calls run one after another, in the order posted, on a thread of
    // their own; the worker ends there.
    void runsInOrderOnItsThread()
    {
        std::atomic<QThread *> diedOn = nullptr;
        QList<int> order;
        std::atomic<QThread *> ranOn = nullptr;
        {
            WorkerThread thread(new Worker(&diedOn));
            for (int i = 0; i < 200; ++i)
                thread.post([&order, &ranOn, i] {
                    order << i;
                    ranOn = QThread::currentThread();
                });
            QVERIFY(thread.finish(5s));
        }
        QCOMPARE(order.size(), 200);
        QVERIFY(std::is_sorted(order.begin(), order.end()));
        QVERIFY(ranOn != QThread::currentThread());
        QCOMPARE(diedOn.load(), ranOn.load());
    }

    // While a call runs: finish() waits for the calls behind it, stop()
    // drops them; each gives up at its deadline, so that a stuck disk or
    // server never keeps the program from closing.
    void endsWithinItsDeadline_data()
    {
        QTest::addColumn<bool>("finishing");
        QTest::addColumn<int>("blockedMs");
        QTest::addColumn<int>("laterCallsRun");
        QTest::addRow("finish runs what waits") << true << 100 << 5;
        QTest::addRow("stop drops what waits") << false << 100 << 0;
        QTest::addRow("finish gives up, the calls run later") << true << 3000 << 5;
        QTest::addRow("stop gives up") << false << 3000 << 0;
    }

    void endsWithinItsDeadline()
    {
        QFETCH(bool, finishing);
        QFETCH(int, blockedMs);
        QFETCH(int, laterCallsRun);
        std::atomic<QThread *> diedOn = nullptr;
        auto *thread = new WorkerThread(new Worker(&diedOn));
        QSemaphore started;
        std::atomic<int> later = 0;
        thread->post([&started, blockedMs] {
            started.release();
            QThread::msleep(static_cast<unsigned long>(blockedMs));
        });
        for (int i = 0; i < 5; ++i)
            thread->post([&later] { ++later; });
        QVERIFY(started.tryAcquire(1, 5000));
        const auto deadline = 1000ms;
        QElapsedTimer clock;
        clock.start();
        const bool ended = finishing ? thread->finish(deadline) : thread->stop(deadline);
        QVERIFY(clock.elapsed() < 2 * deadline.count());
        QCOMPARE(ended, blockedMs < deadline.count());
        // Left to end on its own, it goes with its worker.
        QTRY_VERIFY_WITH_TIMEOUT(diedOn.load() != nullptr, 10000);
        QCOMPARE(later.load(), laterCallsRun);
        delete thread;
    }

    // A thread never used never starts; its worker goes with it.
    void destroyedBeforeStart()
    {
        std::atomic<QThread *> diedOn = nullptr;
        delete new WorkerThread(new Worker(&diedOn));
        QCOMPARE(diedOn.load(), QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestWorkerThread)
#include "tst_worker_thread.moc"
