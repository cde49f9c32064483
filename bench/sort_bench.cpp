// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's class grid over many children: how long the window's thread
// is held by a reading of the class (first, then again as the class is read
// every second), by a click on each header, and by a filter: the median of
// 5 times each, in ms of the thread's processor time (a loaded machine's
// wall-clock time says more of the load than of the grid).
//   sort_bench [CHILDREN]
#include "progress/class_grid.h"
#include "quiz/tables.h"

#include <QApplication>
#include <QHeaderView>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double medianMs(const std::function<void()> &work)
{
    QList<double> times;
    for (int i = 0; i < 5; ++i) {
        const double start = cpuMs();
        work();
        QCoreApplication::processEvents();
        times << cpuMs() - start;
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<ClassChild> children;
    for (int i = 0; i < count; ++i) {
        ClassChild child{QStringLiteral("poste%1").arg(i / 3 + 1),
                         QStringLiteral("%1_joueur").arg(i % 3 + 1),
                         i % 4 ? QString() : QStringLiteral("Élève %1").arg(i),
                         {i % 500 + 1, (i * 7) % (i % 500 + 1)},
                         now.addSecs(-qint64(i) * 97 % (30 * 86400)),
                         {}};
        for (const auto &level : kLevels)
            child.recent[level.bound] = {20, (i + level.bound) % 21};
        children << child;
    }
    ClassGrid grid([](const ClassChild &) {});
    grid.resize(1200, 800);
    grid.show();
    const double start = cpuMs();
    grid.setChildren(children, now);
    const double firstMs = cpuMs() - start;
    std::printf("%d children|first reading %.0f|reading again %.0f", count, firstMs,
                medianMs([&] { grid.setChildren(children, now); }));
    for (int column = 0; column < grid.model()->columnCount(); ++column)
        std::printf("|%.0f", medianMs([&] {
                        grid.sortByColumn(column, grid.horizontalHeader()->sortIndicatorOrder() ==
                                                          Qt::AscendingOrder
                                                      ? Qt::DescendingOrder
                                                      : Qt::AscendingOrder);
                    }));
    grid.sortByColumn(-1, Qt::AscendingOrder);
    std::printf("|filter %.0f\n", medianMs([&] {
                    grid.setFilter(ClassGrid::ToReview);
                    grid.setFilter(ClassGrid::Everyone);
                }));
    return 0;
}
