// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_queries.h"

#include "history/csv_export.h"
#include "history/progress_queries.h"

#include <QCollator>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {

// The view asks the server every second whether the teacher's classes
// changed: a new answer or an erasure (each counted on its computer's row,
// which only the class's teachers read), a computer or a class more or
// less. One small read for any number of answers, which a computer can
// neither see nor set off but by answering; and a server that restarted, or
// lost its database, is found within a second.
constexpr int kPollMs = 1000;
constexpr int kRetryMs = 5000;
constexpr const char *kChanges =
    "SELECT coalesce(sum(changes), 0) || ':' || count(*) || ':' || "
    "(SELECT count(*) FROM additions.teachers) FROM additions.machines";

// The server keeps each child's totals as answers arrive, and their last
// answers at each level: the view reads no answer. One row per child and
// level, a child's rows together; times in milliseconds, which read far
// faster than dates.
constexpr const char *kChildren =
    "SELECT c.machine, c.player, c.answers, c.right_answers, "
    "(extract(epoch FROM c.last_at) * 1000)::bigint, r.bound, cardinality(r.results), "
    "cardinality(array_positions(r.results, true)) "
    "FROM additions.children c LEFT JOIN additions.recent r "
    "ON r.machine = c.machine AND r.player = c.player ORDER BY c.machine, c.player";
// The class's answers by the carries their sums make, or one child's.
constexpr const char *kCarries =
    "SELECT carries, SUM(answers), SUM(right_answers) FROM additions.totals "
    "WHERE carries >= 0 %1 GROUP BY carries";

void readCarries(QSqlQuery &query, QMap<int, Tally> &carries)
{
    while (query.next())
        carries.insert(query.value(0).toInt(), {query.value(1).toInt(), query.value(2).toInt()});
}

// One child's answers for the chart: every one while they are few, else
// each day's last in the teacher's time zone (every one when all are of one
// day); their last answers; and their sums by carries. False when the
// server refused.
bool readChild(QSqlQuery &query, ChildDetail &detail)
{
    const auto ask = [&](const QString &sql) {
        query.prepare(sql);
        query.addBindValue(detail.machine);
        query.addBindValue(detail.player);
        return query.exec();
    };
    const auto rows = [&](const QString &order, QList<HistoryRow> &into,
                          const QString &distinct = {}) {
        if (!ask(QStringLiteral("SELECT %1 %2 FROM additions.answers WHERE machine = ? AND "
                                "player = ? %3")
                     .arg(distinct, QString::fromLatin1(kAnswerColumns), order)))
            return false;
        while (query.next())
            into.append(rowOf(query));
        return true;
    };
    if (!ask(QStringLiteral("SELECT answers FROM additions.children WHERE machine = ? AND "
                            "player = ?")))
        return false;
    detail.chart.answers = query.next() ? query.value(0).toLongLong() : 0;
    const QString day = QStringLiteral("(answered_at AT TIME ZONE '%1')::date")
                            .arg(QString::fromLatin1(QTimeZone::systemTimeZoneId()).remove(u'\''));
    const QString every = QStringLiteral("ORDER BY received");
    if (!rows(QStringLiteral("ORDER BY received DESC LIMIT %1").arg(ProgressQueries::kLastAnswers),
              detail.last) ||
        (detail.chart.answers <= kMostAnswersDrawn
             ? !rows(every, detail.chart.rows)
             : !rows(QStringLiteral("ORDER BY %1, received DESC").arg(day), detail.chart.rows,
                     QStringLiteral("DISTINCT ON (%1)").arg(day))))
        return false;
    // All of one day: every one.
    if (detail.chart.answers > kMostAnswersDrawn && detail.chart.rows.size() == 1) {
        detail.chart.rows.clear();
        if (!rows(every, detail.chart.rows))
            return false;
    }
    if (!ask(QString::fromLatin1(kCarries).arg(QStringLiteral("AND machine = ? AND player = ?"))))
        return false;
    readCarries(query, detail.carries);
    return true;
}

// "poste2" before "poste10", as a teacher counts: each text's collation key
// is made once, and compared as bytes.
void sortAsATeacherCounts(QList<ClassChild> &children)
{
    QCollator order{QLocale(QLocale::French)};
    order.setNumericMode(true);
    QHash<QString, QCollatorSortKey> keys;
    const auto keyOf = [&](const QString &text) {
        auto key = keys.constFind(text);
        return key != keys.cend() ? *key : *keys.insert(text, order.sortKey(text));
    };
    struct Keyed
    {
        QCollatorSortKey machine, player;
        qsizetype row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(children.size()));
    for (qsizetype row = 0; row < children.size(); ++row)
        keyed.push_back({keyOf(children[row].machine), keyOf(children[row].player), row});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        const int machines = a.machine.compare(b.machine);
        return machines != 0 ? machines < 0 : a.player.compare(b.player) < 0;
    });
    QList<ClassChild> sorted;
    sorted.reserve(children.size());
    for (const Keyed &item : keyed)
        sorted.append(std::move(children[item.row]));
    children = std::move(sorted);
}

Notice serverFailed(const QSqlError &error)
{
    return {QStringLiteral("Le serveur de la classe n'a pas pu donner les réponses."),
            error.text().trimmed()};
}

} // namespace

ClassQueries::ClassQueries()
    // A server that holds a read (a table locked while its administrator
    // updates it) must not hold the view for ever.
    : m_server(ClassConnection::kTeacher, QStringLiteral("additions-class-teacher"),
               std::chrono::seconds(20)),
      m_poll(this)
{
    QObject::connect(&m_poll, &QTimer::timeout, this, &ClassQueries::check);
}

bool ClassQueries::connect()
{
    // The driver finds a connection the server ended (a restart, its
    // database dropped) closed, or finds out at the next query.
    if (m_server.db().isOpen())
        return true;
    // Closed for good: the version asked again, and whatever came meanwhile
    // read at the next poll, whichever read connected.
    m_server.failed(QString());
    m_seen.clear();
    return m_server.open();
}

void ClassQueries::check()
{
    if (!m_server.db().isOpen()) {
        // A server away is asked again every few seconds, not at each poll.
        if (m_nextTry.hasExpired()) {
            m_nextTry.setRemainingTime(kRetryMs);
            load();
        }
        return;
    }
    QSqlQuery query(m_server.db());
    if (!query.exec(QString::fromLatin1(kChanges)) || !query.next())
        away(readingFailed(query));
    else if (query.value(0).toString() != m_seen)
        load();
}

void ClassQueries::away(const Notice &why)
{
    if (!m_last.awaySince.isValid())
        m_last.awaySince = QDateTime::currentDateTime();
    ClassView view = m_last;
    view.problem = why.text;
    view.details = why.details;
    // Names given since are the teacher's, server or not.
    const auto names = this->names().all();
    for (ClassChild &child : view.children)
        child.name = names.value({child.machine, child.player});
    Q_EMIT loaded(view);
}

void ClassQueries::load()
{
    if (!m_poll.isActive())
        m_poll.start(kPollMs);
    if (!connect()) {
        away({m_server.problem(), m_server.details()});
        return;
    }
    ClassView view;
    QSqlQuery query(m_server.db());
    query.setForwardOnly(true);
    // The class, the chosen child and the count of changes at one moment:
    // answers that arrive meanwhile change the count, and are read at the
    // next poll.
    QString seen;
    bool read = query.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) &&
                query.exec(QString::fromLatin1(kChanges)) && query.next();
    if (read)
        seen = query.value(0).toString();
    read = read && query.exec(QString::fromLatin1(kChildren));
    const auto names = this->names().all();
    while (read && query.next()) {
        const QString machine = query.value(0).toString(), player = query.value(1).toString();
        if (view.children.isEmpty() || view.children.last().player != player ||
            view.children.last().machine != machine)
            view.children.append(
                {machine,
                 player,
                 names.value({machine, player}),
                 {query.value(2).toInt(), query.value(3).toInt()},
                 QDateTime::fromMSecsSinceEpoch(query.value(4).toLongLong(), Qt::UTC),
                 {}});
        if (!query.isNull(5))
            view.children.last().recent.insert(query.value(5).toInt(),
                                               {query.value(6).toInt(), query.value(7).toInt()});
    }
    sortAsATeacherCounts(view.children);
    read = read && query.exec(QStringLiteral("SELECT name FROM additions.classes ORDER BY 1"));
    while (read && query.next())
        view.classes << query.value(0).toString();
    read = read && query.exec(QString::fromLatin1(kCarries).arg(QString()));
    if (read)
        readCarries(query, view.carries);
    if (read && m_chosen) {
        view.chosen = ChildDetail{m_chosen->first, m_chosen->second, {}, {}, {}, {}};
        read = readChild(query, *view.chosen);
    }
    if (!read || !query.exec(QStringLiteral("COMMIT"))) {
        away(readingFailed(query));
        return;
    }
    view.readAt = QDateTime::currentDateTime();
    m_seen = seen;
    m_last = view;
    Q_EMIT loaded(view);
}

void ClassQueries::exportTo(const QByteArray &file)
{
    if (!connect()) {
        Q_EMIT done({m_server.problem(), m_server.details()});
        return;
    }
    QString details;
    QByteArrayList header = csvAnswerHeader();
    header.insert(1, "poste");
    header.insert(3, "nom");
    const auto names = this->names().all();
    const QString failure = writeCsv(file, header, [this, &names, &details](const CsvSink &write) {
        QSqlQuery query(m_server.db());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT %1, machine FROM additions.answers "
                                       "ORDER BY answered_at, machine")
                            .arg(QString::fromLatin1(kAnswerColumns)))) {
            const Notice failed = serverFailed(query.lastError());
            details = failed.details;
            return failed.text;
        }
        while (query.next()) {
            const HistoryRow row = rowOf(query);
            const QString machine = query.value(10).toString();
            QByteArrayList fields = csvAnswerFields(row);
            fields.insert(1, csvText(machine));
            fields.insert(3, csvText(names.value({machine, row.answer.player})));
            write(fields);
        }
        return QString();
    });
    Q_EMIT done({failure, details});
}

void ClassQueries::erase(const ChildNames::Child &child)
{
    if (!connect()) {
        Q_EMIT done({m_server.problem(), m_server.details()});
        return;
    }
    QSqlQuery query(m_server.db());
    query.prepare(QStringLiteral("DELETE FROM additions.answers WHERE machine = ? AND player = ?"));
    query.addBindValue(child.first);
    query.addBindValue(child.second);
    if (!query.exec())
        Q_EMIT done({QStringLiteral("Les réponses de %1, %2 n'ont pas pu être effacées.")
                         .arg(child.first, child.second),
                     query.lastError().text().trimmed()});
    else if (query.numRowsAffected() == 0)
        Q_EMIT done({QStringLiteral("Aucune réponse de %1, %2 n'a été effacée : cet élève "
                                    "n'est pas dans vos classes.")
                         .arg(child.first, child.second),
                     {}});
    else // a child later given that key starts unnamed
        Q_EMIT done({names().name(child, QString()) ? QString() : names().problem(), {}});
    load();
}

void ClassQueries::name(const ChildNames::Child &child, const QString &name)
{
    if (names().name(child, name)) {
        Q_EMIT done({});
    } else {
        Q_EMIT done({names().problem(), {}});
        // Opened again at the next try: the adult may have mended the file.
        m_names.reset();
    }
    load();
}

Notice ClassQueries::readingFailed(QSqlQuery &query)
{
    const Notice failure = serverFailed(query.lastError());
    query = QSqlQuery(); // freed while the connection is there to free it
    m_server.failed(failure.text, failure.details);
    return failure;
}

ChildNames &ClassQueries::names()
{
    if (!m_names) {
        // A history connection of each view's own: a window opened again
        // never closes another's in use.
        static std::atomic<int> views = 0;
        m_names =
            std::make_unique<ChildNames>(QStringLiteral("additions-class-names-%1").arg(++views));
    }
    return *m_names;
}

void ClassQueries::loadChild(const ChildNames::Child &child)
{
    m_chosen = child;
    ChildDetail detail{child.first, child.second, {}, {}, {}, {}};
    if (!connect()) {
        detail.problem = m_server.problem();
        Q_EMIT childLoaded(detail);
        return;
    }
    QSqlQuery query(m_server.db());
    query.setForwardOnly(true);
    if (!readChild(query, detail))
        detail.problem = readingFailed(query).text;
    Q_EMIT childLoaded(detail);
}
