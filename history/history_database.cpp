// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_database.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace {

constexpr const char *kCreateTable = "CREATE TABLE IF NOT EXISTS answers ("
                                     "answered_at TIMESTAMP NOT NULL, "
                                     "player VARCHAR(1000) NOT NULL, "
                                     "bound INTEGER NOT NULL, "
                                     "first_number VARCHAR(1000) NOT NULL, "
                                     "second_number VARCHAR(1000) NOT NULL, "
                                     "answer VARCHAR(1000) NOT NULL, "
                                     "is_right SMALLINT NOT NULL, "
                                     "stake INTEGER NOT NULL, "
                                     "score_after VARCHAR(1000) NOT NULL)";
constexpr const char *kCreateIndex =
    "CREATE INDEX IF NOT EXISTS answers_by_player ON answers (player, answered_at)";
constexpr const char *kColumns = "answered_at, player, bound, first_number, second_number, "
                                 "answer, is_right, stake, score_after";

// What is SQLite's own is here, and only here: a write-ahead log, so that
// two copies of the game write at once; a wait for the other's lock far
// below a click's budget, tried again by whileBusy(); SQLite's error codes.
void tuneSqlite(QSqlDatabase &db)
{
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2"));
}

constexpr const char *kTuneAfterOpening = "PRAGMA journal_mode=WAL";

// SQLite's primary result code; Qt gives the extended one.
int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// "Malformed" or "not a database".
bool isDamaged(const QSqlError &error)
{
    return sqliteCode(error) == 11 || sqliteCode(error) == 26;
}

// Another copy of the game holds the lock.
bool isBusy(const QSqlError &error)
{
    return sqliteCode(error) == 5 || sqliteCode(error) == 6;
}

// Runs `attempt` (which returns its error, invalid on success) again while
// another copy of the game holds the lock, for up to five seconds: answers
// are written off the click's path, and none is lost to a busy moment.
template <typename Attempt> bool whileBusy(Attempt attempt)
{
    const QDeadlineTimer deadline(5000);
    for (unsigned long pause = 1;; pause = std::min(pause * 2, 50UL)) {
        const QSqlError error = attempt();
        if (!error.isValid())
            return true;
        if (!isBusy(error) || deadline.hasExpired())
            return false;
        QThread::msleep(pause);
    }
}

// The start of a period; none is the whole history.
QDateTime fromStart(const QDateTime &since)
{
    return since.isValid() ? since : QDateTime(QDate(1970, 1, 1), QTime(0, 0));
}

HistoryRow rowOf(const QSqlQuery &query)
{
    return {query.value(0).toDateTime(),
            {query.value(1).toString(), query.value(2).toInt(), query.value(3).toString(),
             query.value(4).toString(), query.value(5).toString(), query.value(6).toInt() != 0,
             query.value(7).toInt(), query.value(8).toString()}};
}

QByteArray csvField(QString text)
{
    if (text.contains(u';') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
    return text.toUtf8();
}

} // namespace

HistoryDatabase::HistoryDatabase(const QString &connectionName) : m_connection(connectionName)
{
    m_open = open();
}

HistoryDatabase::~HistoryDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
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

bool HistoryDatabase::open()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_problem = QStringLiteral("L'historique n'est pas disponible : le pilote SQLite de Qt "
                                   "manque (paquet libqt6sql6-sqlite).");
        return false;
    }
    QDir().mkpath(QFileInfo(path()).absolutePath());
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        m_db.setDatabaseName(path());
        tuneSqlite(m_db);
        QSqlError error;
        if (!m_db.open())
            error = m_db.lastError();
        for (const char *sql : {kTuneAfterOpening, kCreateTable, kCreateIndex}) {
            QSqlQuery query(m_db);
            if (!error.isValid() && !whileBusy([&] {
                    return query.exec(QString::fromLatin1(sql)) ? QSqlError() : query.lastError();
                }))
                error = query.lastError();
        }
        if (!error.isValid())
            return true;
        m_db.close();
        if (attempt > 0 || !isDamaged(error)) {
            m_problem = QStringLiteral("L'historique n'a pas pu être ouvert : ") + error.text();
            return false;
        }
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        // A damaged file is set aside, never deleted, and a new one started.
        const QString aside = path() + QStringLiteral(".abime-") +
                              QDateTime::currentDateTime().toString(u"yyyyMMdd-hhmmss");
        QFile::rename(path(), aside);
        m_problem = QStringLiteral("L'historique était abîmé : il a été mis de côté (%1) et un "
                                   "nouveau a été commencé.")
                        .arg(aside);
    }
    return false;
}

bool HistoryDatabase::insert(const HistoryRow &row)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO answers (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QString::fromLatin1(kColumns)));
    const AnswerRecord &a = row.answer;
    for (const QVariant &value :
         {QVariant(row.when), QVariant(a.player), QVariant(a.bound), QVariant(a.first),
          QVariant(a.second), QVariant(a.answer), QVariant(a.right ? 1 : 0), QVariant(a.stake),
          QVariant(a.scoreAfter)})
        query.addBindValue(value);
    return m_open && whileBusy([&] { return query.exec() ? QSqlError() : query.lastError(); });
}

QStringList HistoryDatabase::players()
{
    QSqlQuery query(m_db);
    QStringList players;
    if (query.exec(QStringLiteral("SELECT DISTINCT player FROM answers ORDER BY player")))
        while (query.next())
            players << query.value(0).toString();
    return players;
}

QList<LevelSummary> HistoryDatabase::levels(const QString &player, const QDateTime &since)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT bound, COUNT(*), SUM(is_right) FROM answers "
                                 "WHERE player = ? AND answered_at >= ? GROUP BY bound "
                                 "ORDER BY bound"));
    query.addBindValue(player);
    query.addBindValue(fromStart(since));
    QList<LevelSummary> levels;
    if (query.exec())
        while (query.next())
            levels.append({query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()});
    return levels;
}

QList<HistoryRow> HistoryDatabase::rows(const QString &sql, const QString &player,
                                        const QDateTime &since, int count)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(sql.arg(QString::fromLatin1(kColumns)));
    query.addBindValue(player);
    query.addBindValue(fromStart(since));
    if (count > 0)
        query.addBindValue(count);
    QList<HistoryRow> rows;
    if (query.exec())
        while (query.next())
            rows << rowOf(query);
    return rows;
}

QList<HistoryRow> HistoryDatabase::lastAnswers(const QString &player, const QDateTime &since,
                                               int count)
{
    return rows(QStringLiteral("SELECT %1 FROM answers WHERE player = ? AND answered_at >= ? "
                               "ORDER BY answered_at DESC LIMIT ?"),
                player, since, count);
}

bool HistoryDatabase::clear(const QString &player)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM answers WHERE player = ?"));
    query.addBindValue(player);
    return m_open && whileBusy([&] { return query.exec() ? QSqlError() : query.lastError(); });
}

bool HistoryDatabase::exportCsv(const QString &file)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!m_open || !query.exec(QStringLiteral("SELECT %1 FROM answers ORDER BY answered_at")
                                   .arg(QString::fromLatin1(kColumns))))
        return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write("\xEF\xBB\xBF"
              "date;joueur;niveau;premier nombre;second nombre;réponse;juste;mise;score\r\n");
    while (query.next()) {
        const HistoryRow row = rowOf(query);
        const AnswerRecord &a = row.answer;
        const QStringList fields{row.when.toString(u"yyyy-MM-dd HH:mm:ss"),
                                 a.player,
                                 QString::number(a.bound),
                                 a.first,
                                 a.second,
                                 a.answer,
                                 a.right ? QStringLiteral("oui") : QStringLiteral("non"),
                                 QString::number(a.stake),
                                 a.scoreAfter};
        QByteArrayList line;
        for (const QString &field : fields)
            line << csvField(field);
        out.write(line.join(';') + "\r\n");
    }
    return out.commit();
}
