// SPDX-License-Identifier: GPL-3.0-or-later
// The Progrès window over a history of a million answers (three years of a
// busy classroom computer): the time from nothing to the window filled,
// first and then again (the file in the page cache), in ms.
//   progress_bench [ANSWERS]
#include "history/history_database.h"
#include "progress/progress_window.h"
#include "tests/scratch_folder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

namespace {

// Fills the history fast: one transaction, one prepared statement.
bool fill(int answers)
{
    HistoryDatabase history(QStringLiteral("fill"));
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("fill"));
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO answers VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const QDateTime start = QDateTime::currentDateTime().addYears(-3);
    const int bounds[] = {50, 200, 1000, 5000, 10000};
    for (int i = 0; i < answers; ++i) {
        for (const QVariant &value :
             {QVariant(start.addSecs(i * 90)), QVariant(QStringLiteral("%1_joueur").arg(1 + i % 3)),
              QVariant(bounds[i % 5]), QVariant(QString::number(i % 97)),
              QVariant(QString::number(i % 89)), QVariant(QString::number(i % 186)),
              QVariant(i % 4 != 0), QVariant(1 + i % 8), QVariant(QString::number(i / 100))})
            insert.addBindValue(value);
        if (!insert.exec())
            return false;
    }
    return db.commit();
}

double openWindowMs()
{
    QElapsedTimer timer;
    timer.start();
    ProgressWindow window;
    window.show();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto data = scratchFolder();
    qputenv("XDG_DATA_HOME", QFile::encodeName(data->path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int answers = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    if (!fill(answers))
        return 1;
    const double first = openWindowMs();
    std::printf("%d | %.1f | %.1f\n", answers, first, openWindowMs());
}
