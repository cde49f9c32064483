// Additions - a game for practising addition. GPL-3.0-or-later.
#include "window/command_line.h"

#include "window/translations.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

std::optional<int> answerCommandLine(int argc, char *argv[])
{
    // A plain start costs nothing here.
    if (argc <= 1)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Additions"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ADDITIONS_VERSION));
    installFrenchTranslations();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Un jeu pour apprendre à faire des additions. Les scores sont gardés "
                       "dans ~/.config/MyApp.conf."));
    // Qt's own help and version options are not all translated.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Affiche cette aide."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Affiche la version."));
    parser.addOptions({help, version});
    // Ends the program on an option it does not know.
    parser.process(app);
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version)) {
        QTextStream(stdout)
            << QStringLiteral("Additions %1\n").arg(QStringLiteral(ADDITIONS_VERSION));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << QStringLiteral("additions ne prend pas de fichier : %1\n")
                                   .arg(parser.positionalArguments().join(u' '));
        return 1;
    }
    return std::nullopt;
}
