// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_queries.h"

#include "history/class_server.h"
#include "progress/csv_export.h"

#include <QCollator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <algorithm>

namespace {

constexpr int kMasteryAnswers = 20;
// Notifications come in bursts when a class answers at once: one reload
// for them all, well within the two seconds a teacher waits.
constexpr int kReloadDelayMs = 300;
constexpr int kRetryDelayMs = 10000;
// A server that restarts says nothing to a listening connection, which
// would go on showing old figures: it is asked now and then.
constexpr int kHeartbeatMs = 10000;
constexpr int kLongestName = 60;

// The server keeps each child's totals as answers arrive; only the mastery
// reads answers, the last 20 of each child at each level, through an index.
constexpr const char *kChildren =
    "SELECT machine, player, SUM(answers), SUM(right_answers), MAX(last_at) "
    "FROM additions.totals GROUP BY machine, player";
constexpr const char *kRecent =
    "SELECT t.machine, t.player, t.bound, r.answers, r.right_answers "
    "FROM (SELECT DISTINCT machine, player, bound FROM additions.totals) t "
    "CROSS JOIN LATERAL (SELECT COUNT(*) AS answers, COUNT(*) FILTER (WHERE is_right) "
    "AS right_answers FROM (SELECT is_right FROM additions.answers a WHERE a.machine = "
    "t.machine AND a.player = t.player AND a.bound = t.bound ORDER BY a.answered_at DESC "
    "LIMIT 20) last) r";
constexpr const char *kCarries =
    "SELECT carries, SUM(answers), SUM(right_answers) FROM additions.totals "
    "WHERE carries >= 0 GROUP BY carries ORDER BY carries";

} // namespace

QString mastery(int lastAnswers, int lastRight)
{
    if (lastAnswers == 0)
        return QStringLiteral("pas commencé");
    const int share = 100 * lastRight / lastAnswers;
    if (share >= 90 && lastAnswers >= kMasteryAnswers)
        return QStringLiteral("maîtrisé");
    return share >= 70 ? QStringLiteral("familier") : QStringLiteral("commencé");
}

ClassQueries::~ClassQueries()
{
    const QString name = m_db.connectionName();
    m_db.close();
    m_db = QSqlDatabase();
    if (!name.isEmpty())
        QSqlDatabase::removeDatabase(name);
}

bool ClassQueries::connect(ClassView &view)
{
    if (m_db.isOpen())
        return true;
    if (!m_db.isValid()) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            view.problem = QStringLiteral("La classe ne peut pas être montrée : le pilote "
                                          "PostgreSQL de Qt manque (paquet libqt6sql6-psql).");
            return false;
        }
        m_db =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("additions-class"));
        m_db.setConnectOptions(ClassServer::connectOptions(QString::fromLatin1(kService)));
    }
    if (!m_db.open()) {
        view.problem = QStringLiteral("Le serveur de la classe (service « %1 ») n'a pas pu être "
                                      "joint : vérifiez le réseau, le mot de passe et le "
                                      "certificat (%2).")
                           .arg(QString::fromLatin1(kService), m_db.lastError().text().trimmed());
        return false;
    }
    if (!m_heartbeat) {
        m_heartbeat = new QTimer(this);
        QObject::connect(m_heartbeat, &QTimer::timeout, this, [this] {
            if (m_db.isOpen() && !QSqlQuery(m_db).exec(QStringLiteral("SELECT 1"))) {
                m_db.close();
                load();
            }
        });
        m_heartbeat->start(kHeartbeatMs);
    }
    // Each answer a computer sends is heard at once.
    QSqlDriver *driver = m_db.driver();
    if (driver->subscribeToNotification(QStringLiteral("reponses")))
        QObject::connect(driver, &QSqlDriver::notification, this, &ClassQueries::reloadSoon,
                         Qt::UniqueConnection);
    return true;
}

void ClassQueries::reloadSoon()
{
    reloadAfter(kReloadDelayMs);
}

void ClassQueries::reloadAfter(int delayMs)
{
    if (m_reloadPlanned)
        return;
    m_reloadPlanned = true;
    QTimer::singleShot(delayMs, this, [this] {
        m_reloadPlanned = false;
        load();
    });
}

void ClassQueries::load()
{
    ClassView view;
    if (!connect(view)) {
        Q_EMIT loaded(view);
        retryLater();
        return;
    }
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    bool read = query.exec(QString::fromLatin1(kChildren));
    while (read && query.next())
        view.children.append({query.value(0).toString(),
                              query.value(1).toString(),
                              {},
                              query.value(2).toInt(),
                              query.value(3).toInt(),
                              query.value(4).toDateTime().toUTC(),
                              {}});
    // "poste2" before "poste10", as a teacher counts.
    QCollator order(QLocale(QLocale::French));
    order.setNumericMode(true);
    std::sort(view.children.begin(), view.children.end(),
              [&order](const ClassChild &a, const ClassChild &b) {
                  const int machines = order.compare(a.machine, b.machine);
                  return machines != 0 ? machines < 0 : order.compare(a.player, b.player) < 0;
              });
    const auto names = this->names().classNames();
    for (ClassChild &child : view.children)
        child.name = names.value({child.machine, child.player});
    read = read && query.exec(QString::fromLatin1(kRecent));
    while (read && query.next())
        for (ClassChild &child : view.children)
            if (child.machine == query.value(0).toString() &&
                child.player == query.value(1).toString())
                child.recent.insert(query.value(2).toInt(),
                                    {query.value(3).toInt(), query.value(4).toInt()});
    read = read && query.exec(QString::fromLatin1(kCarries));
    while (read && query.next())
        view.carries.append(
            {query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()});
    if (!read) {
        view.problem = QStringLiteral("Le serveur de la classe n'a pas pu donner les réponses "
                                      "(%1).")
                           .arg(query.lastError().text().trimmed());
        // A server restarted: the next load opens a new connection.
        m_db.close();
        retryLater();
    }
    Q_EMIT loaded(view);
}

void ClassQueries::exportTo(const QByteArray &file)
{
    ClassView view;
    if (!connect(view)) {
        Q_EMIT done(view.problem);
        return;
    }
    const QByteArray header = "date;poste;joueur;nom;niveau;premier nombre;second nombre;réponse;"
                              "juste;mise;score;score gardé";
    const auto names = this->names().classNames();
    Q_EMIT done(writeCsv(file, header, [this, &names](const CsvSink &write) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral(
                "SELECT answered_at, machine, player, bound, first_number, second_number, answer, "
                "is_right, stake, score_after, score_kept FROM additions.answers "
                "ORDER BY answered_at, machine")))
            return QStringLiteral("le serveur de la classe n'a pas donné les réponses (%1)")
                .arg(query.lastError().text().trimmed());
        const QByteArray yes = "oui", no = "non";
        while (query.next())
            write(QByteArrayList{
                query.value(0).toDateTime().toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss").toUtf8(),
                csvText(query.value(1).toString()), csvText(query.value(2).toString()),
                csvText(names.value({query.value(1).toString(), query.value(2).toString()})),
                QByteArray::number(query.value(3).toInt()), csvText(query.value(4).toString()),
                csvText(query.value(5).toString()), csvText(query.value(6).toString()),
                query.value(7).toBool() ? yes : no, QByteArray::number(query.value(8).toInt()),
                csvNumber(query.value(9).toString()),
                query.value(10).isNull()   ? QByteArray()
                : query.value(10).toBool() ? yes
                                           : no}
                      .join(';'));
        return QString();
    }));
}

void ClassQueries::erase(const QString &machine, const QString &player)
{
    ClassView view;
    if (!connect(view)) {
        Q_EMIT done(view.problem);
        return;
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM additions.answers WHERE machine = ? AND player = ?"));
    query.addBindValue(machine);
    query.addBindValue(player);
    if (!query.exec())
        Q_EMIT done(QStringLiteral("Les réponses de %1, %2 n'ont pas pu être effacées (%3).")
                        .arg(machine, player, query.lastError().text().trimmed()));
    else if (query.numRowsAffected() == 0)
        Q_EMIT done(QStringLiteral("Aucune réponse de %1, %2 n'a été effacée : cet élève n'est "
                                   "pas dans vos classes.")
                        .arg(machine, player));
    else // a child later given that key starts unnamed
        Q_EMIT done(names().nameChild(machine, player, QString()) ? QString() : names().problem());
    load();
}

void ClassQueries::name(const QString &machine, const QString &player, const QString &name)
{
    // One line of ordinary text, that fits in a column and in a CSV row.
    QString kept = name;
    kept.removeIf([](QChar c) { return c.category() == QChar::Other_Control && !c.isSpace(); });
    kept = kept.simplified().left(kLongestName);
    if (names().nameChild(machine, player, kept)) {
        Q_EMIT done(QString());
    } else {
        Q_EMIT done(names().problem());
        // Opened again at the next try: the adult may have mended the file.
        m_names.reset();
    }
    load();
}

HistoryDatabase &ClassQueries::names()
{
    if (!m_names)
        m_names = std::make_unique<HistoryDatabase>(QStringLiteral("additions-class-names"));
    return *m_names;
}

// A server away sends no notification: it is asked again now and then.
void ClassQueries::retryLater()
{
    reloadAfter(kRetryDelayMs);
}
