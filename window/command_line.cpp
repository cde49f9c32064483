// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/command_line.h"

#include "quiz/sentences.h"
#include "services/command_line.h"
#include "services/platform_score_store.h"

#include <QCoreApplication>

namespace {

QString whereScoresAre()
{
    const QString location = PlatformScoreStore().location();
    return (sentences::isRegistryKey(location) ? QStringLiteral("dans le registre, sous ")
                                               : QStringLiteral("dans ")) +
           location;
}

} // namespace

std::optional<int> answerCommandLine(int argc, char *argv[])
{
    // A plain start costs nothing here.
    if (argc <= 1)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Additions"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ADDITIONS_VERSION));
    // The game has no options of its own: whatever else is given (Qt's own
    // options, a file name) starts the game as a plain start would.
    QCommandLineParser parser;
    return answerHelpOrVersion(parser, QStringLiteral("Additions"), [] {
        return QStringLiteral("Un jeu pour apprendre à faire des additions. Les scores sont "
                              "gardés %1.")
            .arg(whereScoresAre());
    });
}
