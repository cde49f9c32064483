// SPDX-License-Identifier: GPL-3.0-or-later
// Writes answers to the history, printing the number of each once it is
// stored: for ever, for a test to kill mid-write, or `count` answers of
// `player`, exiting 1 if one cannot be written.
//   history_probe [player count]
#include "history/history_database.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString player = arguments.value(1, QStringLiteral("1_joueur"));
    const int count = arguments.value(2, QStringLiteral("-1")).toInt();
    HistoryDatabase history(QStringLiteral("probe"));
    for (int i = 0; i != count; ++i) {
        const AnswerRecord answer{
            player, 50, QStringLiteral("1"), QStringLiteral("2"), QString::number(i),
            true,   1,  QString::number(i)};
        if (!history.insert({QDateTime::currentDateTime(), answer}))
            return 1;
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    return 0;
}
