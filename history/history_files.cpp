// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_files.h"

#include "services/owned_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The companions SQLite keeps beside the history.
constexpr const char *kCompanions[] = {"-wal", "-shm"};

// SQLite's primary result code; Qt gives the extended one.
int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// A history the user may not write: the folder too, for SQLite's companions.
QString readOnlySentence(const QString &file)
{
    return QStringLiteral("L'historique %1 est en lecture seule : rendez-le modifiable (ainsi "
                          "que son dossier) pour que les réponses y soient gardées")
        .arg(QDir::toNativeSeparators(file));
}

#ifdef Q_OS_UNIX
QString ownerName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}
#endif

} // namespace

bool prepareHistoryFiles(const QString &file, QString *problem)
{
    const QString shown = QDir::toNativeSeparators(file);
#ifdef Q_OS_UNIX
    const QByteArray bytes = QFile::encodeName(file);
    if (!makeFolders(folderOf(bytes))) {
        *problem = QStringLiteral("Le dossier de l'historique %1 n'a pas pu être créé : vérifiez "
                                  "que vous pouvez écrire dans %2.")
                       .arg(QDir::toNativeSeparators(QFileInfo(file).absolutePath()), shown);
        return false;
    }
    struct stat status = {};
    if (::stat(bytes.constData(), &status) == 0 && ::geteuid() != 0 &&
        status.st_uid != ::geteuid()) {
        *problem = QStringLiteral("L'historique %1 appartient à l'utilisateur %2 : rendez-le à "
                                  "%3 (chown) pour que les réponses y soient gardées.")
                       .arg(shown, ownerName(status.st_uid), ownerName(::geteuid()));
        return true; // still read, if it can be
    }
    if (::stat(bytes.constData(), &status) == 0 && ::access(bytes.constData(), W_OK) != 0)
        *problem = readOnlySentence(file) + u'.';
    // A companion left read-only (SQLite gives them the file's mode, and the
    // file may have been read-only for a while) would keep every write
    // failing once the file is writable again: they are the program's own.
    for (const char *companion : kCompanions) {
        const QByteArray name = bytes + companion;
        if (::stat(name.constData(), &status) == 0 && status.st_uid == ::geteuid() &&
            (status.st_mode & 0600) != 0600)
            ::chmod(name.constData(), (status.st_mode & 07777) | 0600);
    }
    if (!createPrivateFile(bytes)) {
        *problem = QStringLiteral("L'historique %1 n'a pas pu être créé : vérifiez que vous "
                                  "pouvez écrire dans son dossier.")
                       .arg(shown);
        return false;
    }
#else
    (void)problem;
    QDir().mkpath(QFileInfo(file).absolutePath());
#endif
    return true;
}

QString setDamagedAside(const QString &file)
{
    const QString aside = file + QStringLiteral(".abime-") +
                          QDateTime::currentDateTime().toString(u"yyyyMMdd-hhmmss");
    if (!QFile::rename(file, aside))
        return QString();
    for (const char *companion : kCompanions)
        QFile::rename(file + QLatin1String(companion), aside + QLatin1String(companion));
    return aside;
}

bool isDamaged(const QSqlError &error)
{
    return sqliteCode(error) == 11 || sqliteCode(error) == 26; // malformed, not a database
}

QString sentenceFor(const QSqlError &error, const QString &file)
{
    const QString sqlite = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    QString sentence;
    switch (sqliteCode(error)) {
    case 8:
        sentence = readOnlySentence(QStringLiteral("%1"));
        break;
    case 13:
        sentence = QStringLiteral("Le disque où se trouve l'historique %1 est plein : libérez de "
                                  "la place pour que les réponses y soient gardées");
        break;
    case 11:
    case 26:
        sentence = QStringLiteral("L'historique %1 est abîmé : fermez le jeu, mettez ce fichier de "
                                  "côté, et un nouvel historique sera commencé");
        break;
    case 10:
        sentence = QStringLiteral("Le disque où se trouve l'historique %1 a fait une erreur de "
                                  "lecture ou d'écriture : vérifiez ce disque");
        break;
    case 14:
        sentence = QStringLiteral("L'historique %1 ne peut pas être ouvert : vérifiez que son "
                                  "dossier existe et que vous pouvez y écrire");
        break;
    default:
        sentence = QStringLiteral("L'historique %1 n'a pas pu être utilisé");
    }
    return sentence.arg(QDir::toNativeSeparators(file)) + QStringLiteral(" (%1).").arg(sqlite);
}
