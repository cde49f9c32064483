// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_database.h"

#include "services/owned_files.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char *kCreateAnswers = "CREATE TABLE IF NOT EXISTS answers ("
                                       "id INTEGER PRIMARY KEY, "
                                       "answered_at VARCHAR(40) NOT NULL, "
                                       "player VARCHAR(1000) NOT NULL, "
                                       "bound INTEGER NOT NULL, "
                                       "first_number VARCHAR(1000) NOT NULL, "
                                       "second_number VARCHAR(1000) NOT NULL, "
                                       "answer VARCHAR(1000) NOT NULL, "
                                       "is_right SMALLINT NOT NULL, "
                                       "stake INTEGER NOT NULL, "
                                       "score_after VARCHAR(1000) NOT NULL, "
                                       "score_kept SMALLINT, "
                                       "uuid VARCHAR(36), "
                                       "sent SMALLINT NOT NULL DEFAULT 0)";
// Sent to a class's server: each answer's own id, made here, and whether the
// server has it. Histories from before a class get them on opening.
constexpr const char *kAddClassColumns[] = {
    "ALTER TABLE answers ADD COLUMN uuid VARCHAR(36)",
    "ALTER TABLE answers ADD COLUMN sent SMALLINT NOT NULL DEFAULT 0"};
constexpr const char *kCreateUnsentIndex =
    "CREATE INDEX IF NOT EXISTS answers_unsent ON answers (sent, id)";
// The last answers of a player, newest first; each level's totals over a
// period, from the index alone.
constexpr const char *kCreateIndexes[] = {
    "CREATE INDEX IF NOT EXISTS answers_in_order ON answers (player, id)",
    "CREATE INDEX IF NOT EXISTS answers_in_time ON answers (player, answered_at, bound, is_right)"};
constexpr const char *kCreateSetAside = "CREATE TABLE IF NOT EXISTS set_aside ("
                                        "file VARCHAR(4000) NOT NULL, "
                                        "set_aside_at VARCHAR(40) NOT NULL, "
                                        "dismissed SMALLINT NOT NULL)";
// A teacher's names for the children of their class, who reach the class's
// server as a computer and a player key only: the names stay here.
constexpr const char *kCreateNames = "CREATE TABLE IF NOT EXISTS class_names ("
                                     "machine VARCHAR(1000) NOT NULL, "
                                     "player VARCHAR(1000) NOT NULL, "
                                     "name VARCHAR(1000) NOT NULL, "
                                     "PRIMARY KEY (machine, player))";
// Each player's totals per level, kept by the database itself as answers come
// and go: the whole history's table needs no pass over years of answers.
constexpr const char *kCreateTotals = "CREATE TABLE level_totals ("
                                      "player VARCHAR(1000) NOT NULL, "
                                      "bound INTEGER NOT NULL, "
                                      "answers INTEGER NOT NULL, "
                                      "right_answers INTEGER NOT NULL, "
                                      "PRIMARY KEY (player, bound))";
constexpr const char *kFillTotals =
    "INSERT INTO level_totals SELECT player, bound, COUNT(*), SUM(is_right) FROM answers "
    "GROUP BY player, bound";
constexpr const char *kColumns = "answered_at, player, bound, first_number, second_number, "
                                 "answer, is_right, stake, score_after, score_kept";

// Times are kept as ISO 8601 text in UTC, which sorts as time does.
QString storedTime(const QDateTime &when)
{
    return when.toUTC().toString(Qt::ISODateWithMs);
}

// ---- What is SQLite's own is here, and only here. ----

// A write-ahead log, so that two copies of the game write at once, and
// SQLite's own wait for the other's lock, far longer than any write takes:
// answers are written off the window's thread, and none is lost to a busy
// moment.
void tuneSqlite(QSqlDatabase &db, bool readOnly)
{
    db.setConnectOptions(readOnly
                             ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                             : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
}
constexpr const char *kTuneAfterOpening = "PRAGMA journal_mode=WAL";

// Histories written before times were kept in UTC and in the order of
// recording: their local times become UTC as this machine's zone reads them.
constexpr const char *kFromFirstVersion[] = {
    "ALTER TABLE answers RENAME TO answers_first_version", kCreateAnswers,
    "INSERT INTO answers (answered_at, player, bound, first_number, second_number, answer, "
    "is_right, stake, score_after) SELECT strftime('%Y-%m-%dT%H:%M:%fZ', answered_at, 'utc'), "
    "player, bound, first_number, second_number, answer, is_right, stake, score_after "
    "FROM answers_first_version ORDER BY answered_at",
    "DROP TABLE answers_first_version"};

// The totals follow every insert and delete.
constexpr const char *kKeepTotals[] = {
    "CREATE TRIGGER IF NOT EXISTS answer_counted AFTER INSERT ON answers BEGIN "
    "INSERT OR IGNORE INTO level_totals VALUES (NEW.player, NEW.bound, 0, 0); "
    "UPDATE level_totals SET answers = answers + 1, right_answers = right_answers + NEW.is_right "
    "WHERE player = NEW.player AND bound = NEW.bound; END",
    "CREATE TRIGGER IF NOT EXISTS answer_uncounted AFTER DELETE ON answers BEGIN "
    "UPDATE level_totals SET answers = answers - 1, right_answers = right_answers - OLD.is_right "
    "WHERE player = OLD.player AND bound = OLD.bound; END"};

// SQLite's primary result code; Qt gives the extended one.
int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

bool isDamaged(const QSqlError &error)
{
    return sqliteCode(error) == 11 || sqliteCode(error) == 26; // malformed, not a database
}

// The companions SQLite keeps beside the history.
constexpr const char *kCompanions[] = {"-wal", "-shm"};

// ---- End of what is SQLite's own. ----

#ifdef Q_OS_UNIX
QString ownerName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}
#endif

// A history the user may not write: the folder too, for SQLite's companions.
QString readOnlySentence(const QString &file)
{
    return QStringLiteral("L'historique %1 est en lecture seule : rendez-le modifiable (ainsi "
                          "que son dossier) pour que les réponses y soient gardées")
        .arg(QDir::toNativeSeparators(file));
}

// What an adult can do about an error of the history's file, in French.
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

HistoryRow rowOf(const QSqlQuery &query)
{
    return {QDateTime::fromString(query.value(0).toString(), Qt::ISODateWithMs),
            {query.value(1).toString(), query.value(2).toInt(), query.value(3).toString(),
             query.value(4).toString(), query.value(5).toString(), query.value(6).toInt() != 0,
             query.value(7).toInt(), query.value(8).toString(), query.value(9).toInt() != 0}};
}

} // namespace

HistoryDatabase::HistoryDatabase(const QString &connectionName) : m_connection(connectionName)
{
    m_open = open();
}

HistoryDatabase::~HistoryDatabase()
{
    disconnect();
}

QString HistoryDatabase::path()
{
    // %LOCALAPPDATA%\Additions on Windows, as its programs name their folders.
#ifdef Q_OS_WIN
    const QString folder = QStringLiteral("/Additions");
#else
    const QString folder = QStringLiteral("/additions");
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + folder +
           QStringLiteral("/history.sqlite");
}

bool HistoryDatabase::failed(const QSqlError &error)
{
    if (m_problem.isEmpty())
        m_problem = sentenceFor(error, path());
    return false;
}

// The history's folder and file exist and are the user's own before SQLite
// opens them: SQLite gives its companions the file's mode and, run as root,
// its owner. Says in m_problem what stands in the way.
bool HistoryDatabase::prepareFiles()
{
    const QString file = path();
    const QString shown = QDir::toNativeSeparators(file);
#ifdef Q_OS_UNIX
    const QByteArray bytes = QFile::encodeName(file);
    if (!makeFolders(folderOf(bytes))) {
        m_problem = QStringLiteral("Le dossier de l'historique %1 n'a pas pu être créé : vérifiez "
                                   "que vous pouvez écrire dans %2.")
                        .arg(QDir::toNativeSeparators(QFileInfo(file).absolutePath()), shown);
        return false;
    }
    struct stat status = {};
    if (::stat(bytes.constData(), &status) == 0 && ::geteuid() != 0 &&
        status.st_uid != ::geteuid()) {
        m_problem = QStringLiteral("L'historique %1 appartient à l'utilisateur %2 : rendez-le à "
                                   "%3 (chown) pour que les réponses y soient gardées.")
                        .arg(shown, ownerName(status.st_uid), ownerName(::geteuid()));
        return true; // still read, if it can be
    }
    if (::stat(bytes.constData(), &status) == 0 && ::access(bytes.constData(), W_OK) != 0)
        m_problem = readOnlySentence(file) + u'.';
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
        m_problem = QStringLiteral("L'historique %1 n'a pas pu être créé : vérifiez que vous "
                                   "pouvez écrire dans son dossier.")
                        .arg(shown);
        return false;
    }
#else
    QDir().mkpath(QFileInfo(file).absolutePath());
#endif
    return true;
}

QSqlError HistoryDatabase::connect(bool readOnly)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(path());
    tuneSqlite(m_db, readOnly);
    if (!m_db.open())
        return m_db.lastError();
    QSqlError error;
    const auto run = [&](const QString &sql) {
        QSqlQuery query(m_db);
        if (!error.isValid() && !query.exec(sql))
            error = query.lastError();
    };
    if (readOnly) {
        run(QStringLiteral("SELECT COUNT(*) FROM answers WHERE 0 = 1"));
        return error;
    }
    run(QString::fromLatin1(kTuneAfterOpening));
    const bool firstVersion =
        !error.isValid() && m_db.tables().contains(QStringLiteral("answers")) &&
        !m_db.record(QStringLiteral("answers")).contains(QStringLiteral("score_kept"));
    if (firstVersion && m_db.transaction()) {
        for (const char *sql : kFromFirstVersion)
            run(QString::fromLatin1(sql));
        if (error.isValid() || !m_db.commit())
            m_db.rollback();
    }
    for (const char *sql :
         {kCreateAnswers, kCreateIndexes[0], kCreateIndexes[1], kCreateSetAside, kCreateNames})
        run(QString::fromLatin1(sql));
    if (!error.isValid() &&
        !m_db.record(QStringLiteral("answers")).contains(QStringLiteral("sent")))
        for (const char *sql : kAddClassColumns)
            run(QString::fromLatin1(sql));
    run(QString::fromLatin1(kCreateUnsentIndex));
    if (!error.isValid() && !m_db.tables().contains(QStringLiteral("level_totals")) &&
        m_db.transaction()) {
        for (const char *sql : {kCreateTotals, kFillTotals})
            run(QString::fromLatin1(sql));
        if (error.isValid() || !m_db.commit())
            m_db.rollback();
    }
    for (const char *sql : kKeepTotals)
        run(QString::fromLatin1(sql));
    return error;
}

void HistoryDatabase::disconnect()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool HistoryDatabase::open()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_problem = QStringLiteral("L'historique n'est pas disponible : le pilote SQLite de Qt "
                                   "manque (paquet libqt6sql6-sqlite).");
        return false;
    }
    if (!prepareFiles())
        return false;
    QSqlError error = connect(false);
    if (isDamaged(error)) {
        disconnect();
        // A damaged file is set aside with its companions, never deleted, and
        // a new one started: a log left beside it would be replayed into the
        // new one.
        const QString aside = path() + QStringLiteral(".abime-") +
                              QDateTime::currentDateTime().toString(u"yyyyMMdd-hhmmss");
        if (!QFile::rename(path(), aside))
            return failed(error);
        for (const char *companion : kCompanions)
            QFile::rename(path() + QLatin1String(companion), aside + QLatin1String(companion));
        if (!prepareFiles())
            return false;
        error = connect(false);
        QSqlQuery note(m_db);
        note.prepare(QStringLiteral("INSERT INTO set_aside VALUES (?, ?, 0)"));
        note.addBindValue(aside);
        note.addBindValue(storedTime(QDateTime::currentDateTimeUtc()));
        if (!error.isValid() && !note.exec())
            error = note.lastError();
    }
    if (!error.isValid())
        return true;
    failed(error);
    disconnect();
    // A history that cannot be written is still shown.
    if (!connect(true).isValid())
        return true;
    disconnect();
    return false;
}

bool HistoryDatabase::insert(const HistoryRow &row)
{
    if (!m_open)
        return false;
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("INSERT INTO answers (%1, uuid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
            .arg(QString::fromLatin1(kColumns)));
    const AnswerRecord &a = row.answer;
    for (const QVariant &value :
         {QVariant(storedTime(row.when)), QVariant(a.player), QVariant(a.bound), QVariant(a.first),
          QVariant(a.second), QVariant(a.answer), QVariant(a.right ? 1 : 0), QVariant(a.stake),
          QVariant(a.scoreAfter), QVariant(a.scoreKept ? 1 : 0),
          QVariant(QUuid::createUuid().toString(QUuid::WithoutBraces))})
        query.addBindValue(value);
    return query.exec() || failed(query.lastError());
}

QList<PendingAnswer> HistoryDatabase::unsent(int count)
{
    QList<PendingAnswer> pending;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT %1, id, uuid FROM answers WHERE sent = 0 ORDER BY id "
                                 "LIMIT ?")
                      .arg(QString::fromLatin1(kColumns)));
    query.addBindValue(count);
    if (!m_open || !query.exec())
        return pending;
    while (query.next())
        pending.append({query.value(10).toLongLong(), query.value(11).toString(), rowOf(query)});
    query.finish();
    // Answers recorded before a class was set up get their id now.
    for (PendingAnswer &answer : pending) {
        if (!answer.uuid.isEmpty())
            continue;
        answer.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSqlQuery give(m_db);
        give.prepare(QStringLiteral("UPDATE answers SET uuid = ? WHERE id = ? AND uuid IS NULL"));
        give.addBindValue(answer.uuid);
        give.addBindValue(answer.id);
        if (!give.exec())
            return {};
    }
    return pending;
}

int HistoryDatabase::unsentCount()
{
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM answers WHERE sent = 0")) && query.next()
               ? query.value(0).toInt()
               : 0;
}

bool HistoryDatabase::markSent(const QList<PendingAnswer> &answers)
{
    if (!m_db.transaction())
        return failed(m_db.lastError());
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE answers SET sent = 1 WHERE id = ?"));
    for (const PendingAnswer &answer : answers) {
        query.addBindValue(answer.id);
        if (!query.exec()) {
            m_db.rollback();
            return failed(query.lastError());
        }
    }
    return m_db.commit() || failed(m_db.lastError());
}

QStringList HistoryDatabase::players()
{
    QSqlQuery query(m_db);
    QStringList players;
    if (query.exec(QStringLiteral(
            "SELECT DISTINCT player FROM level_totals WHERE answers > 0 ORDER BY player")))
        while (query.next())
            players << query.value(0).toString();
    return players;
}

QList<LevelSummary> HistoryDatabase::levels(const QString &player, const QDateTime &since)
{
    QSqlQuery query(m_db);
    query.prepare(since.isValid()
                      ? QStringLiteral("SELECT bound, COUNT(*), SUM(is_right) FROM answers "
                                       "WHERE player = ? AND answered_at >= ? GROUP BY bound "
                                       "ORDER BY bound")
                      : QStringLiteral("SELECT bound, answers, right_answers FROM level_totals "
                                       "WHERE player = ? AND answers > 0 ORDER BY bound"));
    query.addBindValue(player);
    if (since.isValid())
        query.addBindValue(storedTime(since));
    QList<LevelSummary> levels;
    if (query.exec())
        while (query.next())
            levels.append({query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()});
    return levels;
}

QList<HistoryRow> HistoryDatabase::lastAnswers(const QString &player, const QDateTime &since,
                                               int count)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // Without a period, no condition on the time: the newest answers come
    // straight from the index in the order answered.
    query.prepare(QStringLiteral("SELECT %1 FROM answers WHERE player = ? %2 "
                                 "ORDER BY id DESC LIMIT ?")
                      .arg(QString::fromLatin1(kColumns),
                           since.isValid() ? QStringLiteral("AND answered_at >= ?") : QString()));
    query.addBindValue(player);
    if (since.isValid())
        query.addBindValue(storedTime(since));
    query.addBindValue(count);
    QList<HistoryRow> rows;
    if (query.exec())
        while (query.next())
            rows << rowOf(query);
    return rows;
}

bool HistoryDatabase::clear(const QString &player)
{
    if (!m_open)
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM answers WHERE player = ?"));
    query.addBindValue(player);
    return query.exec() || failed(query.lastError());
}

bool HistoryDatabase::eachAnswer(const std::function<void(const HistoryRow &)> &take)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!m_open || !query.exec(QStringLiteral("SELECT %1 FROM answers ORDER BY id")
                                   .arg(QString::fromLatin1(kColumns))))
        return m_open && failed(query.lastError());
    while (query.next())
        take(rowOf(query));
    return !query.lastError().isValid() || failed(query.lastError());
}

QList<SetAside> HistoryDatabase::setAside()
{
    QSqlQuery query(m_db);
    QList<SetAside> files;
    if (query.exec(QStringLiteral("SELECT file, set_aside_at FROM set_aside WHERE dismissed = 0")))
        while (query.next())
            files.append({query.value(0).toString(),
                          QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs)});
    return files;
}

bool HistoryDatabase::dismissSetAside()
{
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral("UPDATE set_aside SET dismissed = 1")) ||
           failed(query.lastError());
}

QMap<std::pair<QString, QString>, QString> HistoryDatabase::classNames()
{
    QSqlQuery query(m_db);
    QMap<std::pair<QString, QString>, QString> names;
    if (query.exec(QStringLiteral("SELECT machine, player, name FROM class_names")))
        while (query.next())
            names.insert({query.value(0).toString(), query.value(1).toString()},
                         query.value(2).toString());
    return names;
}

bool HistoryDatabase::nameChild(const QString &machine, const QString &player, const QString &name)
{
    if (!m_open)
        return false;
    QSqlQuery query(m_db);
    if (name.isEmpty()) {
        query.prepare(QStringLiteral("DELETE FROM class_names WHERE machine = ? AND player = ?"));
    } else {
        query.prepare(
            QStringLiteral("UPDATE class_names SET name = ? WHERE machine = ? AND player = ?"));
        query.addBindValue(name);
    }
    query.addBindValue(machine);
    query.addBindValue(player);
    if (!query.exec())
        return failed(query.lastError());
    if (name.isEmpty() || query.numRowsAffected() > 0)
        return true;
    query.prepare(QStringLiteral("INSERT INTO class_names VALUES (?, ?, ?)"));
    query.addBindValue(machine);
    query.addBindValue(player);
    query.addBindValue(name);
    return query.exec() || failed(query.lastError());
}
