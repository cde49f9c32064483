// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/command_line.h"

#include "quiz/sentences.h"
#include "services/platform_score_store.h"
#include "services/translations.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

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
    QCommandLineParser parser;
    // Qt's own options are single-dash words (-style fusion, -reverse): read
    // as words, they can never spell -h or -v letter by letter.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Qt's own help and version options are not all translated.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Affiche cette aide."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Affiche la version."));
    parser.addOptions({help, version});
    // The game has no options of its own: whatever else is given (Qt's own
    // options, a file name) starts the game as a plain start would.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        installFrenchTranslations();
        parser.setApplicationDescription(
            QStringLiteral("Un jeu pour apprendre à faire des additions. Les scores sont "
                           "gardés %1.")
                .arg(whereScoresAre()));
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout)
            << QStringLiteral("Additions %1\n").arg(QStringLiteral(ADDITIONS_VERSION));
        return 0;
    }
    return std::nullopt;
}
