// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/csv_export.h"

#include "history/history_database.h"
#include "services/owned_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlQuery>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

QByteArray quoted(QString text)
{
    if (text.contains(u';') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
    return text.toUtf8();
}

// A number the program wrote as a number; anything else (a hand-edited
// score) as text.
QByteArray csvNumber(const QString &text)
{
    static const QRegularExpression whole(QStringLiteral("^-?[0-9]{1,18}$"));
    return whole.match(text).hasMatch() ? text.toUtf8() : csvText(text);
}

QByteArray line(const QByteArrayList &fields)
{
    return fields.join(';') + "\r\n";
}

QString failure(const QByteArray &file, const QString &cause)
{
    return QStringLiteral("L'historique n'a pas pu être exporté dans %1 : %2.")
        .arg(QDir::toNativeSeparators(QFile::decodeName(file)), cause);
}

#ifdef Q_OS_UNIX
QString causeOf(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("le disque est plein");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("vous ne pouvez pas écrire dans ce dossier");
    case ENOENT:
        return QStringLiteral("ce dossier n'existe pas");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool sameFile(const struct stat &a, const QByteArray &path)
{
    struct stat b = {};
    return ::stat(path.constData(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file a name leads to, or why it must not be written. A link is
// followed only where the kernel's own rule for shared folders would follow
// it: not one that another user owns in a sticky folder (/tmp).
QString checkTarget(const QByteArray &file, QByteArray *target)
{
    *target = file;
    struct stat status = {};
    if (::lstat(file.constData(), &status) != 0)
        return errno == ENOENT ? QString() : causeOf(errno);
    if (S_ISLNK(status.st_mode)) {
        struct stat folder = {};
        if (::stat(folderOf(file).constData(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
            status.st_uid != ::geteuid() && status.st_uid != folder.st_uid)
            return QStringLiteral("c'est un lien qu'un autre utilisateur a posé dans un dossier "
                                  "partagé");
        char *resolved = ::realpath(file.constData(), nullptr);
        if (!resolved)
            return QStringLiteral("c'est un lien vers un fichier qui n'existe pas");
        *target = resolved;
        std::free(resolved);
        if (::stat(target->constData(), &status) != 0)
            return causeOf(errno);
    }
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("ce n'est pas un fichier ordinaire");
    const QByteArray history = QFile::encodeName(HistoryDatabase::path());
    for (const char *suffix : {"", "-wal", "-shm"})
        if (sameFile(status, history + suffix))
            return QStringLiteral("c'est le fichier de l'historique lui-même");
    return QString();
}
#endif

} // namespace

QByteArray csvText(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        return quoted(u'\'' + text);
    return quoted(text);
}

QByteArrayList csvAnswerHeader()
{
    return QByteArray("date;joueur;niveau;premier nombre;second nombre;réponse;juste;mise;score;"
                      "score gardé")
        .split(';');
}

QByteArrayList csvAnswerFields(const HistoryRow &row)
{
    const AnswerRecord &a = row.answer;
    const QByteArray yes = "oui", no = "non";
    return {row.when.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss").toUtf8(),
            csvText(a.player),
            QByteArray::number(a.bound),
            csvText(a.first),
            csvText(a.second),
            csvText(a.answer),
            a.right ? yes : no,
            QByteArray::number(a.stake),
            csvNumber(a.scoreAfter),
            a.scoreKept ? yes : no};
}

QString writeCsv(const QByteArray &file, const QByteArrayList &header,
                 const std::function<QString(const CsvSink &)> &rows)
{
    QString unread;
#ifdef Q_OS_UNIX
    QByteArray target;
    if (const QString refused = checkTarget(file, &target); !refused.isEmpty())
        return failure(file, refused);
    // Put in the file's place whole: a failure leaves the file as it was,
    // and a link planted after the check is replaced, not followed.
    const bool written = replaceFile(target, target, [&](int fd) {
        QByteArray buffer = kBom + line(header);
        bool ok = true;
        unread = rows([&](const QByteArrayList &fields) {
            buffer += line(fields);
            if (buffer.size() > (1 << 16)) {
                ok = ok && writeAll(fd, buffer);
                buffer.clear();
            }
        });
        return unread.isEmpty() && ok && writeAll(fd, buffer);
    });
    if (!written)
        return failure(file, unread.isEmpty() ? causeOf(errno) : unread);
    return QString();
#else
    const QString name = QFile::decodeName(file);
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return failure(file, QStringLiteral("ce n'est pas un fichier ordinaire"));
    if (info.exists() &&
        info.canonicalFilePath() == QFileInfo(HistoryDatabase::path()).canonicalFilePath())
        return failure(file, QStringLiteral("c'est le fichier de l'historique lui-même"));
    QSaveFile out(name);
    if (!out.open(QIODevice::WriteOnly))
        return failure(file, out.errorString());
    out.write(kBom + line(header));
    unread = rows([&](const QByteArrayList &fields) { out.write(line(fields)); });
    if (!unread.isEmpty()) {
        out.cancelWriting();
        return failure(file, unread);
    }
    return out.commit() ? QString() : failure(file, out.errorString());
#endif
}

QString exportCsv(HistoryDatabase &history, const QByteArray &file)
{
    if (!history.isOpen())
        return failure(file, history.problem());
    return writeCsv(file, csvAnswerHeader(), [&](const CsvSink &write) {
        QSqlQuery query(history.connection());
        query.setForwardOnly(true);
        const bool read = query.exec(QStringLiteral("SELECT %1 FROM answers ORDER BY id")
                                         .arg(QString::fromLatin1(kAnswerColumns)));
        while (read && query.next())
            write(csvAnswerFields(rowOf(query)));
        if (read && !query.lastError().isValid())
            return QString();
        history.failed(query.lastError());
        return history.problem();
    });
}
