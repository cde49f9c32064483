// SPDX-License-Identifier: GPL-3.0-or-later
// additions-progres: the adults' program. It shows the Progrès window, or
// with --exporter FICHIER writes the history as CSV and ends, or with
// --rejoindre ADRESSE CODE joins this computer to a teacher's class.
#include "classroom/class_host.h"
#include "classroom/class_join.h"
#include "history/csv_export.h"
#include "history/history_database.h"
#include "progress/answer_tables.h"
#include "progress/progress_window.h"
#include "services/command_line.h"
#include "services/process_end.h"
#include "services/translations.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

#include <cstring>
#include <optional>

namespace {

// The name after --exporter exactly as given, whatever its bytes: the
// parser's text would spell a name in another encoding differently.
std::optional<QByteArray> exportName(int argc, char *argv[], bool *asked)
{
    *asked = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView argument(argv[i]);
        for (const char *option : {"--exporter", "-exporter"}) {
            if (argument == option) {
                *asked = true;
                return i + 1 < argc && argv[i + 1][0] != '\0'
                           ? std::optional(QByteArray(argv[i + 1]))
                           : std::nullopt;
            }
            const QByteArray withValue = QByteArray(option) + '=';
            if (argument.startsWith(withValue)) {
                *asked = true;
                const QByteArray name(argument.sliced(withValue.size()).toByteArray());
                return name.isEmpty() ? std::nullopt : std::optional(name);
            }
        }
    }
    return std::nullopt;
}

// Qt 6.4's French texts lack the file dialog's kinds of file ("Folder"),
// which moved to another class: the dialog's own words say them.
class FileKinds final : public QTranslator
{
public:
    explicit FileKinds(QObject *parent) : QTranslator(parent)
    {
        (void)m_qt.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    bool isEmpty() const override { return m_qt.isEmpty(); }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        return qstrcmp(context, "QAbstractFileIconProvider") == 0
                   ? m_qt.translate("QFileDialog", source)
                   : QString();
    }

private:
    QTranslator m_qt;
};

int exportHistory(const QByteArray &file)
{
    QTextStream err(stderr);
    HistoryDatabase history(QStringLiteral("additions-export"));
    for (const SetAside &aside : history.setAside())
        err << QStringLiteral("Attention : un historique abîmé a été mis de côté le %1 dans %2 ; "
                              "ses réponses ne sont pas dans cet export.\n")
                   .arg(shownTimeInSentence(aside.when), aside.file);
    const QString failure = exportCsv(history, file);
    if (!failure.isEmpty()) {
        err << failure << '\n';
        return 1;
    }
    if (!history.problem().isEmpty())
        err << QStringLiteral("Attention : ") << history.problem() << '\n';
    return 0;
}

// Answers --help, --version and --exporter without a display. The exit
// status when the program ends there, nothing when the window should open.
std::optional<int> answerCommandLine(int argc, char *argv[])
{
    if (argc <= 1)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ADDITIONS_VERSION));
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rejoindre"),
                      QStringLiteral("Fait rejoindre à cet ordinateur la classe qu'un enseignant "
                                     "ouvre sur le sien, avec l'adresse et le code qu'il donne."),
                      QStringLiteral("ADRESSE CODE")});
    parser.addOption({QStringLiteral("ouvrir-classe"),
                      QStringLiteral("Ouvre sur cet ordinateur la classe NOM, et en donne "
                                     "l'adresse et le code."),
                      QStringLiteral("NOM")});
    parser.addOption({QStringLiteral("demarrer-classe"),
                      QStringLiteral("Démarre la classe ouverte sur cet ordinateur.")});
    parser.addOption({QStringLiteral("exporter"),
                      QStringLiteral("Écrit l'historique des réponses dans FICHIER, au format CSV "
                                     "d'un tableur."),
                      QStringLiteral("FICHIER")});
    const auto helpOrVersion = answerHelpOrVersion(parser, QStringLiteral("additions-progres"), [] {
        return QStringLiteral("Les progrès des joueurs d'Additions : leurs scores, leurs réponses "
                              "par niveau, et l'export de l'historique pour un tableur.");
    });
    if (helpOrVersion)
        return helpOrVersion;
    bool asked = false;
    const std::optional<QByteArray> file = exportName(argc, argv, &asked);
    // For a school's deployment tool as for an adult at a terminal.
    if (parser.isSet(QStringLiteral("rejoindre"))) {
        QTextStream err(stderr);
        const QString code = parser.positionalArguments().value(0);
        if (code.isEmpty()) {
            err << QStringLiteral("Utilisation : additions-progres --rejoindre ADRESSE CODE "
                                  "(l'adresse et le code que l'enseignant donne)\n");
            return 2;
        }
        QString problem;
        if (!joinClass(parser.value(QStringLiteral("rejoindre")), code, problem)) {
            err << problem << '\n';
            return 1;
        }
        QTextStream(stdout) << QStringLiteral("Cet ordinateur a rejoint la classe : ses "
                                              "réponses y partiront.\n");
        return 0;
    }
    // A teacher's computer set up by a school's deployment tool.
    if (parser.isSet(QStringLiteral("ouvrir-classe"))) {
        ClassHost host;
        const QString name = parser.value(QStringLiteral("ouvrir-classe"));
        const QString code = !name.isEmpty() && host.create(name)
                                 ? host.openJoining(std::chrono::hours(2))
                                 : QString();
        if (code.isEmpty()) {
            QTextStream(stderr) << (host.problem().isEmpty()
                                        ? QStringLiteral("Utilisation : additions-progres "
                                                         "--ouvrir-classe NOM")
                                        : host.problem())
                                << '\n';
            return 1;
        }
        QTextStream(stdout)
            << QStringLiteral("Classe ouverte : adresse %1, code %2\n").arg(host.address(), code);
        return 0;
    }
    // At the teacher's login, when they asked for it.
    if (parser.isSet(QStringLiteral("demarrer-classe"))) {
        ClassHost host;
        if (host.start())
            return 0;
        QTextStream(stderr) << host.problem() << '\n';
        return 1;
    }
    if (asked && !file) {
        QTextStream(stderr) << QStringLiteral("Utilisation : additions-progres --exporter "
                                              "FICHIER.csv (le fichier où écrire l'historique)\n");
        return 2;
    }
    if (file)
        return exportHistory(*file);
    // Qt's own options open the window like any other start.
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    // The desktop entry's name: docks show the program under its own entry.
    const QString desktopEntry = QStringLiteral("fr.atelier_additions.Additions.Progres");
    QApplication::setApplicationName(desktopEntry);
    QApplication::setDesktopFileName(desktopEntry);
    installFrenchTranslations();
    QCoreApplication::installTranslator(new FileKinds(&app));
    int status = 0;
    {
        ProgressWindow window;
        window.show();
        status = QApplication::exec();
    }
    return endOfProgram(status);
}
