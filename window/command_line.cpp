// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/command_line.h"

#include "quiz/sentences.h"
#include "services/platform_score_store.h"
#include "window/translations.h"

#if ADDITIONS_HAVE_HISTORY
#include "history/history_loader.h"
#endif

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

std::optional<int> answerCommandLine(int argc, char *argv[], bool *progressOnly)
{
    *progressOnly = false;
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
#if ADDITIONS_HAVE_HISTORY
    const QCommandLineOption progress(QStringLiteral("progres"),
                                      QStringLiteral("Ouvre la fenêtre des progrès."));
    const QCommandLineOption exportTo(QStringLiteral("exporter"),
                                      QStringLiteral("Écrit l'historique des réponses dans "
                                                     "FICHIER, au format CSV d'un tableur."),
                                      QStringLiteral("FICHIER"));
    parser.addOptions({progress, exportTo});
#endif
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
#if ADDITIONS_HAVE_HISTORY
    if (parser.isSet(exportTo)) {
        QString problem;
        HistoryModule *history = historyModule(&problem);
        if (history && history->exportCsv(parser.value(exportTo)))
            return 0;
        QTextStream(stderr) << QStringLiteral("L'historique n'a pas pu être écrit dans %1\n")
                                   .arg(parser.value(exportTo));
        if (!history)
            QTextStream(stderr) << QStringLiteral("Historique indisponible : %1\n").arg(problem);
        return 1;
    }
    *progressOnly = parser.isSet(progress);
#endif
    return std::nullopt;
}
