// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_database.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>

#include <memory>

class QTimer;

// One child of the class: a computer and a player key, never a name.
struct ClassChild
{
    QString machine;
    QString player;
    QString name; // the teacher's, kept on their machine; often empty
    int answers = 0;
    int right = 0;
    QDateTime last; // UTC
    // Per level's bound: the last 20 answers, and how many of them right.
    QMap<int, std::pair<int, int>> recent;
};

// The class's answers grouped by the carries their sum makes.
struct CarriesRow
{
    int carries = 0;
    int answers = 0;
    int right = 0;
};

struct ClassView
{
    QList<ClassChild> children;
    QList<CarriesRow> carries;
    QString problem; // why the class cannot be shown, in French
};

// A teacher's view of their classes, from the class's server through the
// teacher's own libpq service "additions-enseignant", on a thread of its
// own. Row-level security on the server limits it to the teacher's
// classes. Once shown, it follows the class: each answer a computer sends
// makes the server notify, and the view is loaded again.
class ClassQueries final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *kService = "additions-enseignant";
    ~ClassQueries() override;

    void load();
    // Every answer of the teacher's classes, as the history's export writes
    // them, with the computer.
    void exportTo(const QByteArray &file);
    // Erases a child's answers on the server, on request: only in the
    // teacher's own classes.
    void erase(const QString &machine, const QString &player);
    // The teacher's name for a child, kept in this machine's history and
    // never sent; an empty name forgets it.
    void name(const QString &machine, const QString &player, const QString &name);

Q_SIGNALS:
    void loaded(const ClassView &view);
    // The end of an export or an erasure: empty when it succeeded, else why.
    void done(const QString &failure);

private:
    bool connect(ClassView &view);
    void reloadSoon();
    void retryLater();
    void reloadAfter(int delayMs);
    HistoryDatabase &names();

    QSqlDatabase m_db;
    std::unique_ptr<HistoryDatabase> m_names; // opened on the thread, when first needed
    bool m_reloadPlanned = false;
    QTimer *m_heartbeat = nullptr;
};

// The mark a child has at a level from their last answers there: "pas
// commencé", "commencé" (under 70 % right), "familier" (70 to 89 %),
// "maîtrisé" (90 % or more of the last 20: fewer answers cannot show it).
QString mastery(int lastAnswers, int lastRight);
