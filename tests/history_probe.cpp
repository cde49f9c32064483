// SPDX-License-Identifier: GPL-3.0-or-later
// Writes answers to the history, printing the number of each once it is
// stored: for ever, for a test to kill mid-write, or `count` answers of
// `player` (the answer typed, if given), exiting 1 with the history's own
// sentence on the standard error if one cannot be written; an answer given
// is right when it is 3 (each problem is 1 + 2). Where a class's
// server is set up, the answers not yet sent are then sent, exiting 3 with
// the reason on the standard error if they could not be.
//   history_probe [player count [answer]]
#include "classroom/class_sender.h"
#include "history/history_database.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString player = arguments.value(1, QStringLiteral("1_joueur"));
    const int count = arguments.value(2, QStringLiteral("-1")).toInt();
    HistoryDatabase history(QStringLiteral("probe"));
    for (int i = 0; i != count; ++i) {
        const AnswerRecord answer{player,
                                  50,
                                  QStringLiteral("1"),
                                  QStringLiteral("2"),
                                  arguments.value(3, QString::number(i)),
                                  arguments.size() < 4 || arguments[3] == u"3",
                                  1,
                                  QString::number(i),
                                  true};
        if (!history.insert({QDateTime::currentDateTimeUtc(), answer, BootInstant::now()})) {
            QTextStream(stderr) << history.problem() << '\n';
            return 1;
        }
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    if (const auto server = ClassSender::ifConfigured()) {
        if (!server->forward(history)) {
            QTextStream(stderr) << server->problem() << '\n';
            return 3;
        }
    }
    return 0;
}
