// SPDX-License-Identifier: GPL-3.0-or-later
// Writes answers to the history for ever, printing the number of each once
// it is stored, for a test to kill mid-write.
#include "history/history_database.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    HistoryDatabase history(QStringLiteral("probe"));
    for (int i = 0;; ++i) {
        const AnswerRecord answer{QStringLiteral("1_joueur"),
                                  50,
                                  QStringLiteral("1"),
                                  QStringLiteral("2"),
                                  QString::number(i),
                                  true,
                                  1,
                                  QString::number(i)};
        if (!history.insert({QDateTime::currentDateTime(), answer}))
            return 1;
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
}
