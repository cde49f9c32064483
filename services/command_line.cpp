// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/command_line.h"

#include "services/translations.h"

#include <QCoreApplication>
#include <QTextStream>

std::optional<int> answerHelpOrVersion(QCommandLineParser &parser, const QString &program,
                                       const std::function<QString()> &description)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Qt's own help and version options are not all translated.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Affiche cette aide."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Affiche la version."));
    parser.addOptions({help, version});
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        installFrenchTranslations();
        parser.setApplicationDescription(description());
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << program << u' ' << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    return std::nullopt;
}
