// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_database.h"

#include "history/history_files.h"
#include "history/history_schema.h"

#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

HistoryRow rowOf(const QSqlQuery &query, int first)
{
    const auto value = [&](int column) { return query.value(first + column); };
    // SQLite keeps the time as text, PostgreSQL as a time.
    const QDateTime when = value(0).typeId() == QMetaType::QDateTime
                               ? value(0).toDateTime()
                               : QDateTime::fromString(value(0).toString(), Qt::ISODateWithMs);
    return {when.toUTC(),
            {value(1).toString(), value(2).toInt(), value(3).toString(), value(4).toString(),
             value(5).toString(), value(6).toInt() != 0, value(7).toInt(), value(8).toString(),
             value(9).toInt() != 0},
            {}};
}

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

QSqlError HistoryDatabase::connect(bool readOnly)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(path());
    tuneConnection(m_db, readOnly);
    if (!m_db.open())
        return m_db.lastError();
    if (!readOnly)
        return createOrUpgrade(m_db);
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM answers WHERE 0 = 1"))
               ? QSqlError()
               : query.lastError();
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
    if (!prepareHistoryFiles(path(), &m_problem))
        return false;
    QSqlError error = connect(false);
    if (isDamaged(error)) {
        disconnect();
        const QString aside = setDamagedAside(path());
        if (aside.isEmpty())
            return failed(error);
        if (!prepareHistoryFiles(path(), &m_problem))
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
        QStringLiteral("INSERT INTO answers (%1, uuid, boot_id, since_boot_ms) VALUES (?, ?, ?, ?, "
                       "?, ?, ?, ?, ?, ?, ?, ?, ?)")
            .arg(QString::fromLatin1(kAnswerColumns)));
    const AnswerRecord &a = row.answer;
    for (const QVariant &value :
         {QVariant(storedTime(row.when)), QVariant(a.player), QVariant(a.bound), QVariant(a.first),
          QVariant(a.second), QVariant(a.answer), QVariant(a.right ? 1 : 0), QVariant(a.stake),
          QVariant(a.scoreAfter), QVariant(a.scoreKept ? 1 : 0),
          QVariant(QUuid::createUuid().toString(QUuid::WithoutBraces)),
          row.boot.boot.isEmpty() ? QVariant() : QVariant(row.boot.boot),
          row.boot.boot.isEmpty() ? QVariant() : QVariant(row.boot.sinceBootMs)})
        query.addBindValue(value);
    return query.exec() || failed(query.lastError());
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
