// SPDX-License-Identifier: GPL-3.0-or-later
// The Progrès window over a history of many answers (a million is three
// years of a busy classroom computer): for each view, the time from the
// request to the window filled, and the longest the window's thread was
// held up meanwhile, in ms.
//   progress_bench [ANSWERS]
#include "history/history_database.h"
#include "progress/progress_window.h"
#include "tests/scratch_folder.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Fills the history fast: one transaction, one prepared statement.
bool fill(int answers)
{
    HistoryDatabase history(QStringLiteral("fill"));
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("fill"));
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO answers (answered_at, player, bound, first_number, second_number, answer, "
        "is_right, stake, score_after, score_kept) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"));
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-qint64(answers) * 9);
    const int bounds[] = {50, 200, 1000, 5000, 10000};
    for (int i = 0; i < answers; ++i) {
        for (const QVariant &value :
             {QVariant(start.addSecs(qint64(i) * 9).toString(Qt::ISODateWithMs)),
              QVariant(QStringLiteral("%1_joueur").arg(1 + i % 3)), QVariant(bounds[i % 5]),
              QVariant(QString::number(i % 97)), QVariant(QString::number(i % 89)),
              QVariant(QString::number(i % 186)), QVariant(i % 4 != 0), QVariant(1 + i % 8),
              QVariant(QString::number(i / 100))})
            insert.addBindValue(value);
        if (!insert.exec())
            return false;
    }
    return db.commit();
}

bool computing(const QWidget &window)
{
    const auto labels = window.findChildren<QLabel *>();
    return std::any_of(labels.begin(), labels.end(),
                       [](const QLabel *label) { return label->text().endsWith(u'…'); });
}

// Runs the window until it is filled: the time taken, and the longest gap
// between two turns of its event loop.
std::pair<double, double> untilFilled(QWidget &window)
{
    QElapsedTimer total, turn;
    total.start();
    turn.start();
    double longest = 0;
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, double(turn.nsecsElapsed()) / 1e6);
        turn.restart();
    } while (computing(window) && total.elapsed() < 60000);
    return {double(total.nsecsElapsed()) / 1e6, longest};
}

QComboBox *combo(QWidget &window, const QString &name)
{
    for (QComboBox *box : window.findChildren<QComboBox *>())
        if (box->accessibleName() == name)
            return box;
    return nullptr;
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
    QElapsedTimer opening;
    opening.start();
    ProgressWindow window;
    window.show();
    const double shown = double(opening.nsecsElapsed()) / 1e6;
    const auto [opened, openStall] = untilFilled(window);
    combo(window, QStringLiteral("période"))->setCurrentIndex(2);
    const auto [all, allStall] = untilFilled(window);
    combo(window, QStringLiteral("joueur"))->setCurrentIndex(1);
    const auto [player, playerStall] = untilFilled(window);
    std::printf("%d | %.1f | %.0f | %.0f | %.0f | %.1f\n", answers, shown, shown + opened, all,
                player, std::max({shown, openStall, allStall, playerStall}));
}
