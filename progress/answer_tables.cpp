// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/answer_tables.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>

namespace {

// The chosen row shows only while its table has the keyboard: a table
// elsewhere on the window shows nothing chosen. With the keyboard, the
// style frames the current cell. The view paints a chosen row's background
// itself, so the highlight is the palette's, changed as the keyboard comes
// and goes.
class KeyboardSelection final : public QObject
{
public:
    explicit KeyboardSelection(QAbstractItemView *view) : QObject(view), m_view(view)
    {
        view->installEventFilter(this);
        show(false);
        // No Tab stop in a table with nothing to read. A table being
        // destroyed empties its model: by then it is a widget only.
        QWidget *widget = view;
        QAbstractItemModel *model = view->model();
        const auto rows = [widget, model] {
            widget->setFocusPolicy(model->rowCount() > 0 ? Qt::StrongFocus : Qt::NoFocus);
        };
        connect(model, &QAbstractItemModel::modelReset, this, rows);
        connect(model, &QAbstractItemModel::rowsInserted, this, rows);
        connect(model, &QAbstractItemModel::rowsRemoved, this, rows);
        rows();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            show(event->type() == QEvent::FocusIn);
        return QObject::eventFilter(watched, event);
    }

private:
    void show(bool shown)
    {
        QPalette palette = m_view->palette();
        const QPalette usual = QApplication::palette(m_view);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Highlight,
                             usual.color(group, shown ? QPalette::Highlight : QPalette::Base));
            palette.setColor(
                group, QPalette::HighlightedText,
                usual.color(group, shown ? QPalette::HighlightedText : QPalette::Text));
        }
        m_view->setPalette(palette);
    }

    QAbstractItemView *m_view;
};

// ...and a cell of the chosen row keeps its own colours then.
class KeyboardSelectionDelegate final : public QStyledItemDelegate
{
public:
    explicit KeyboardSelectionDelegate(QAbstractItemView *view)
        : QStyledItemDelegate(view), m_view(view)
    {}

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!m_view->hasFocus())
            option->state &= ~QStyle::State_Selected;
    }

private:
    QAbstractItemView *m_view;
};

} // namespace

QTableWidget *readOnlyTable(const QString &name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()));
    setUpTable(table, name);
    table->setHorizontalHeaderLabels(headers);
    table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    return table;
}

void setUpTable(QTableView *table, const QString &name)
{
    table->setAccessibleName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Arrows move in the table, a row at a time, and Tab leaves it, as a
    // screen reader's user expects.
    table->setTabKeyNavigation(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    new KeyboardSelection(table);
    table->setItemDelegate(new KeyboardSelectionDelegate(table));
    // Rows as tall as their text needs: more children on the screen.
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
}

void fillTable(QTableWidget *table, const QList<QStringList> &rows)
{
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    if (!rows.isEmpty() && table->currentRow() < 0)
        chooseCell(table, 0, 0);
}

void chooseCell(QTableView *table, int row, int column)
{
    if (table->hasFocus()) {
        table->setCurrentIndex(table->model()->index(row, column));
        return;
    }
    // A table tells a screen reader the keyboard came to it whenever its
    // current cell changes, even when the keyboard is elsewhere: Orca then
    // left the player for the table as Progrès filled it.
    {
        const QSignalBlocker quiet(table->selectionModel());
        table->selectionModel()->setCurrentIndex(table->model()->index(row, column),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    }
    table->viewport()->update();
}

QString levelName(int bound)
{
    QString number = QString::number(bound);
    if (number.size() > 4)
        number.insert(number.size() - 3, u' ');
    return QStringLiteral("moins de ") + number;
}

QString shareText(const Tally &tally)
{
    if (tally.answers <= 0)
        return QString();
    // Rounded as a person reads it (2 of 3 is 67 %), but never "100 %" with
    // a wrong answer, nor "0 %" with a right one.
    const int share = std::clamp(qRound(100.0 * tally.right / tally.answers),
                                 tally.right > 0 ? 1 : 0, tally.right < tally.answers ? 99 : 100);
    return QStringLiteral("%1 %").arg(share);
}

QString shownTime(const QDateTime &when)
{
    return when.toLocalTime().toString(u"dd/MM/yyyy HH:mm");
}

QString shownDay(const QDateTime &when)
{
    return when.toLocalTime().toString(u"dd/MM/yyyy");
}

QString shownTimeInSentence(const QDateTime &when)
{
    return when.toLocalTime().toString(u"dd/MM/yyyy à HH:mm");
}

QStringList answerHeaders()
{
    return {QStringLiteral("Date"), QStringLiteral("Problème"), QStringLiteral("Réponse"),
            QStringLiteral("Juste"), QStringLiteral("Score")};
}

// A score the game could not keep is shown as such: the window showed it,
// the next game will not.
QStringList answerCells(const HistoryRow &row)
{
    const AnswerRecord &answer = row.answer;
    return {shownTime(row.when), answer.first + QStringLiteral(" + ") + answer.second,
            answer.answer, answer.right ? QStringLiteral("oui") : QStringLiteral("non"),
            answer.scoreKept ? answer.scoreAfter
                             : answer.scoreAfter + QStringLiteral(" (non gardé)")};
}

QStringList carriesHeaders()
{
    return {QStringLiteral("Retenues"), QStringLiteral("Réponses"), QStringLiteral("Part juste")};
}

QList<QStringList> carriesRows(const QMap<int, Tally> &carries)
{
    QList<std::pair<int, Tally>> hardestFirst;
    for (const auto &[count, tally] : carries.asKeyValueRange())
        hardestFirst.append({count, tally});
    std::stable_sort(hardestFirst.begin(), hardestFirst.end(), [](const auto &a, const auto &b) {
        return qint64(a.second.right) * b.second.answers <
               qint64(b.second.right) * a.second.answers;
    });
    QList<QStringList> rows;
    for (const auto &[count, tally] : hardestFirst)
        rows << QStringList{QString::number(count), QString::number(tally.answers),
                            shareText(tally)};
    return rows;
}
