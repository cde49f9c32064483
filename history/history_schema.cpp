// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_schema.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QThread>

namespace {

constexpr const char *kCreateAnswers =
    "CREATE TABLE IF NOT EXISTS answers (id INTEGER PRIMARY KEY, answered_at VARCHAR(40) NOT NULL, "
    "player VARCHAR(1000) NOT NULL, bound INTEGER NOT NULL, first_number VARCHAR(1000) NOT NULL, "
    "second_number VARCHAR(1000) NOT NULL, answer VARCHAR(1000) NOT NULL, is_right SMALLINT NOT "
    "NULL, stake INTEGER NOT NULL, score_after VARCHAR(1000) NOT NULL, score_kept SMALLINT, "
    "uuid VARCHAR(36), sent SMALLINT NOT NULL DEFAULT 0, refusal VARCHAR(1000), boot_id "
    "VARCHAR(40), "
    "since_boot_ms INTEGER)";
// The history is a class's outbox: each answer's own id, made here, and
// whether the class's server has it (1), or refused it for good (2, with
// its reason), and the moment on the clock since start-up, which sets its
// time right as it is sent. Histories from before a class get them on
// opening.
constexpr const char *kAddClassColumns[][2] = {
    {"uuid", "ALTER TABLE answers ADD COLUMN uuid VARCHAR(36)"},
    {"sent", "ALTER TABLE answers ADD COLUMN sent SMALLINT NOT NULL DEFAULT 0"},
    {"refusal", "ALTER TABLE answers ADD COLUMN refusal VARCHAR(1000)"},
    {"boot_id", "ALTER TABLE answers ADD COLUMN boot_id VARCHAR(40)"},
    {"since_boot_ms", "ALTER TABLE answers ADD COLUMN since_boot_ms INTEGER"}};
// The tables' version, stamped once they are made or upgraded: each change
// below counts one more.
constexpr int kHistoryVersion = 3;
// What the outbox last knew of its class's server: the server's own
// identity, and its last erasure of this computer's answers.
constexpr const char *kCreateOutboxState =
    "CREATE TABLE IF NOT EXISTS outbox_state (name VARCHAR(100) PRIMARY KEY, value VARCHAR(1000))";
// The last answers of a player, newest first; each level's totals over a
// period, from the index alone; the answers not yet sent.
constexpr const char *kCreateIndexes[] = {
    "CREATE INDEX IF NOT EXISTS answers_in_order ON answers (player, id)",
    "CREATE INDEX IF NOT EXISTS answers_in_time ON answers (player, answered_at, bound, is_right)",
    "CREATE INDEX IF NOT EXISTS answers_unsent ON answers (sent, id)"};
constexpr const char *kCreateSetAside = "CREATE TABLE IF NOT EXISTS set_aside (file VARCHAR(4000) "
                                        "NOT NULL, set_aside_at VARCHAR(40) NOT NULL, dismissed "
                                        "SMALLINT NOT NULL)";
// Each player's totals per level, kept by the database itself as answers come
// and go: the whole history's table needs no pass over years of answers.
constexpr const char *kCreateTotals[] = {
    "CREATE TABLE level_totals (player VARCHAR(1000) NOT NULL, bound INTEGER NOT NULL, "
    "answers INTEGER NOT NULL, right_answers INTEGER NOT NULL, PRIMARY KEY (player, bound))",
    "INSERT INTO level_totals SELECT player, bound, COUNT(*), SUM(is_right) FROM answers "
    "GROUP BY player, bound"};
constexpr const char *kKeepTotals[] = {
    "CREATE TRIGGER IF NOT EXISTS answer_counted AFTER INSERT ON answers BEGIN "
    "INSERT OR IGNORE INTO level_totals VALUES (NEW.player, NEW.bound, 0, 0); "
    "UPDATE level_totals SET answers = answers + 1, right_answers = right_answers + NEW.is_right "
    "WHERE player = NEW.player AND bound = NEW.bound; END",
    "CREATE TRIGGER IF NOT EXISTS answer_uncounted AFTER DELETE ON answers BEGIN "
    "UPDATE level_totals SET answers = answers - 1, right_answers = right_answers - OLD.is_right "
    "WHERE player = OLD.player AND bound = OLD.bound; END"};

// Histories written before times were kept in UTC and in the order of
// recording: their local times become UTC as this machine's zone reads them.
constexpr const char *kFromFirstVersion[] = {
    "ALTER TABLE answers RENAME TO answers_first_version", kCreateAnswers,
    "INSERT INTO answers (answered_at, player, bound, first_number, second_number, answer, "
    "is_right, stake, score_after) SELECT strftime('%Y-%m-%dT%H:%M:%fZ', answered_at, 'utc'), "
    "player, bound, first_number, second_number, answer, is_right, stake, score_after "
    "FROM answers_first_version ORDER BY answered_at",
    "DROP TABLE answers_first_version"};

} // namespace

// A write-ahead log, so that two copies of the game write at once, and
// SQLite's own wait for the other's lock, far longer than any write takes:
// answers are written off the window's thread, and none is lost to a busy
// moment.
void tuneConnection(QSqlDatabase &db, bool readOnly)
{
    db.setConnectOptions(readOnly
                             ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                             : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
}

namespace {

QSqlError createOrUpgradeOnce(QSqlDatabase &db)
{
    QSqlError error;
    const auto run = [&](const char *sql) {
        QSqlQuery query(db);
        if (!error.isValid() && !query.exec(QString::fromLatin1(sql)))
            error = query.lastError();
    };
    run("PRAGMA journal_mode=WAL");
    // A history made by this version is opened without a write lock, which
    // another connection may hold for a while.
    {
        QSqlQuery version(db);
        if (!error.isValid() && version.exec(QStringLiteral("PRAGMA user_version")) &&
            version.next() && version.value(0).toInt() >= kHistoryVersion)
            return error;
    }
    // One connection at a time makes or upgrades the tables, all of it or
    // none: the game's writer and its sender, or the game and Progrès, may
    // open a new history at the same moment.
    run("BEGIN IMMEDIATE");
    const auto together = [&](std::initializer_list<const char *> statements) {
        for (const char *sql : statements)
            run(sql);
    };
    const auto has = [&db](const char *column) {
        return db.record(QStringLiteral("answers")).contains(QString::fromLatin1(column));
    };
    if (!error.isValid() && db.tables().contains(QStringLiteral("answers")) && !has("score_kept"))
        together({kFromFirstVersion[0], kFromFirstVersion[1], kFromFirstVersion[2],
                  kFromFirstVersion[3]});
    run(kCreateAnswers);
    run(kCreateSetAside);
    run(kCreateOutboxState);
    for (const auto &[column, sql] : kAddClassColumns)
        if (!error.isValid() && !has(column))
            run(sql);
    for (const char *sql : kCreateIndexes)
        run(sql);
    if (!error.isValid() && !db.tables().contains(QStringLiteral("level_totals")))
        together({kCreateTotals[0], kCreateTotals[1]});
    for (const char *sql : kKeepTotals)
        run(sql);
    {
        QSqlQuery stamp(db);
        if (!error.isValid() &&
            !stamp.exec(QStringLiteral("PRAGMA user_version = %1").arg(kHistoryVersion)))
            error = stamp.lastError();
    }
    run("COMMIT");
    if (error.isValid())
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return error;
}

} // namespace

QSqlError createOrUpgrade(QSqlDatabase &db)
{
    // SQLite answers "busy" at once, without waiting, to two connections
    // that both want to write a new database's first pages: the second one
    // tries again, for as long as SQLite waits for a lock otherwise.
    QDeadlineTimer patience(5000);
    for (;;) {
        const QSqlError error = createOrUpgradeOnce(db);
        const int code = error.nativeErrorCode().toInt() & 0xff; // the primary code
        if ((code != 5 && code != 6) || patience.hasExpired())
            return error;
        QThread::msleep(20);
    }
}
