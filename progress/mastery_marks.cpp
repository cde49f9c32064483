// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/mastery_marks.h"

#include "progress/answer_tables.h"
#include "quiz/tables.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

MarkLook markLook(Mastery level)
{
    switch (level) {
    case Mastery::NotStarted:
        return {QStringLiteral("○"), {}, {}};
    case Mastery::Started:
        return {QStringLiteral("◔"), QColor(0xFBE3B0), Qt::black};
    case Mastery::Familiar:
        return {QStringLiteral("◑"), QColor(0x9FD1F0), Qt::black};
    case Mastery::Mastered:
        break;
    }
    return {QStringLiteral("●"), QColor(0x1B7F5F), Qt::white};
}

QString markText(Mastery level)
{
    return markLook(level).symbol + QChar::Nbsp + masteryName(level);
}

QString markDescription(int bound, const Tally &last)
{
    const QString mark = levelName(bound) + QStringLiteral(" : ") + mastery(last);
    if (last.answers <= 0)
        return mark;
    if (last.answers >= kMasteryAnswers)
        return mark + QStringLiteral(", %1 réponses justes sur les %2 dernières")
                          .arg(last.right)
                          .arg(last.answers);
    return mark +
           QStringLiteral(", %1 réponse(s) juste(s) sur %2").arg(last.right).arg(last.answers);
}

QVariant markCellData(int bound, const Tally &last, int role)
{
    const MarkLook look = markLook(masteryOf(last));
    switch (role) {
    case Qt::DisplayRole:
        return markText(masteryOf(last));
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return markDescription(bound, last);
    case Qt::BackgroundRole:
        return look.fill.isValid() ? QVariant(look.fill) : QVariant();
    case Qt::ForegroundRole:
        return look.text.isValid() ? QVariant(look.text) : QVariant();
    default:
        return {};
    }
}

QString shownName(const ClassChild &child)
{
    return child.name.isEmpty() ? child.machine + QStringLiteral(", ") + child.player : child.name;
}

QLabel *markLegend()
{
    QStringList marks;
    for (const Mastery level :
         {Mastery::NotStarted, Mastery::Started, Mastery::Familiar, Mastery::Mastered}) {
        const MarkLook look = markLook(level);
        marks << (look.fill.isValid()
                      ? QStringLiteral("<span style=\"background-color:%1; color:%2\">&nbsp;%3"
                                       "&nbsp;</span>")
                            .arg(look.fill.name(), look.text.name(), markText(level))
                      : QStringLiteral("&nbsp;%1&nbsp;").arg(markText(level)));
    }
    auto *legend = new QLabel(
        QStringLiteral("Sur les %1 dernières réponses de chaque niveau : ").arg(kMasteryAnswers) +
        marks.join(QStringLiteral(" ")) +
        QStringLiteral(" (familier : %1 % justes ; maîtrisé : %2 % sur %3 réponses au moins).")
            .arg(kFamiliarPercent)
            .arg(kMasteredPercent)
            .arg(kMasteryAnswers));
    legend->setTextFormat(Qt::RichText);
    legend->setWordWrap(true);
    return legend;
}

QTableWidget *markRow()
{
    QStringList levels;
    for (const auto &level : kLevels)
        levels << levelName(level.bound);
    QTableWidget *row = readOnlyTable(QStringLiteral("maîtrise par niveau"), levels);
    row->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    row->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    row->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    row->setFixedHeight(row->horizontalHeader()->sizeHint().height() +
                        row->verticalHeader()->defaultSectionSize() + 2 * row->frameWidth());
    return row;
}

void fillMarkRow(QTableWidget *row, const QMap<int, Tally> &recent)
{
    row->setRowCount(1);
    for (int column = 0; column < int(kLevels.size()); ++column) {
        const int bound = kLevels[size_t(column)].bound;
        auto *cell = new QTableWidgetItem;
        for (const int role : {Qt::DisplayRole, Qt::ToolTipRole, Qt::AccessibleTextRole,
                               Qt::BackgroundRole, Qt::ForegroundRole})
            cell->setData(role, markCellData(bound, recent.value(bound), role));
        row->setItem(0, column, cell);
    }
    if (row->currentRow() < 0)
        chooseCell(row, 0, 0);
}
