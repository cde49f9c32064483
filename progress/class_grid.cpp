// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_grid.h"

#include "progress/answer_tables.h"
#include "progress/mastery_marks.h"
#include "quiz/tables.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// A child is named by the teacher, or else by their computer and player key.
enum Column { ChildColumn, AnswersColumn, ShareColumn, FirstLevel };
constexpr int kLastActivity = FirstLevel + int(kLevels.size());
constexpr std::array kMarks{Mastery::Mastered, Mastery::Familiar, Mastery::Started,
                            Mastery::NotStarted};

QString nameTip()
{
    return QStringLiteral("F2 ou un double clic : le nom que vous donnez à l'élève, qui reste "
                          "sur cet ordinateur.");
}

// A share that sorts: no answer at all below every share.
double shareOf(const Tally &tally)
{
    return tally.answers > 0 ? double(tally.right) / tally.answers : -1;
}

} // namespace

// The children as the server sent them, with what sorts and filters them
// computed once a reading: a French order of names (numbers as numbers,
// "poste2" before "poste10"), and each level's count of each mark.
class ChildrenModel final : public QAbstractTableModel
{
public:
    using Named = std::function<void(const ClassChild &child)>;
    ChildrenModel(Named named, QObject *parent)
        : QAbstractTableModel(parent), m_named(std::move(named)),
          m_collator(QLocale(QLocale::French, QLocale::France))
    {
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    void setChildren(QList<ClassChild> children, const QDateTime &now)
    {
        beginResetModel();
        m_children = std::move(children);
        m_now = now;
        m_counts = {};
        m_keys.clear();
        m_values.clear();
        for (const ClassChild &child : m_children) {
            m_keys.push_back(nameKey(shownName(child)));
            auto &values = m_values.emplace_back();
            values[AnswersColumn] = child.total.answers;
            values[ShareColumn] = shareOf(child.total);
            values[kLastActivity] = double(child.last.toMSecsSinceEpoch());
            for (size_t level = 0; level < kLevels.size(); ++level) {
                const Tally last = child.recent.value(kLevels[level].bound);
                ++m_counts[level][size_t(masteryOf(last))];
                values[FirstLevel + level] = int(masteryOf(last)) * 4 + shareOf(last);
            }
        }
        endResetModel();
    }
    const ClassChild *child(int row) const
    {
        return row >= 0 && row < m_children.size() ? &m_children[row] : nullptr;
    }
    int rowOf(const std::pair<QString, QString> &key) const
    {
        for (int row = 0; row < m_children.size(); ++row)
            if (m_children[row].machine == key.first && m_children[row].player == key.second)
                return row;
        return -1;
    }
    bool away(const ClassChild &child) const { return child.last.daysTo(m_now) >= 7; }
    QString lastText(const ClassChild &child) const
    {
        const QString when = child.last.toLocalTime().toString(u"dd/MM HH:mm");
        return away(child)
                   ? QStringLiteral("%1, il y a %2 jours").arg(when).arg(child.last.daysTo(m_now))
                   : when;
    }
    bool accepts(int row, ClassGrid::Filter filter) const
    {
        const ClassChild &child = m_children[row];
        if (filter == ClassGrid::Away)
            return away(child);
        // A level started, not yet familiar.
        return filter != ClassGrid::ToReview ||
               std::any_of(child.recent.cbegin(), child.recent.cend(),
                           [](const Tally &last) { return masteryOf(last) == Mastery::Started; });
    }
    // By what the column holds, not by its words, and from values computed
    // once a reading: a sort over 100 000 children compares millions of
    // times, too many to build two QVariants each.
    bool lessThan(int left, int right, int column) const
    {
        if (column == ChildColumn)
            return m_keys[size_t(left)].compare(m_keys[size_t(right)]) < 0;
        return m_values[size_t(left)][size_t(column)] < m_values[size_t(right)][size_t(column)];
    }

    // Without QAbstractTableModel's virtual checks: a sort asks for millions.
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override
    {
        const bool inside = row >= 0 && row < m_children.size() && column >= 0 &&
                            column <= kLastActivity && !parent.isValid();
        return inside ? createIndex(row, column) : QModelIndex();
    }
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_children.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : kLastActivity + 1;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        const bool level = section >= FirstLevel && section < kLastActivity;
        if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section == ChildColumn)
            return nameTip();
        // The class at a level, as many children as each mark.
        if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && level) {
            QStringList counts;
            for (const Mastery mark : kMarks)
                counts << QStringLiteral("%1 %2")
                              .arg(m_counts[size_t(section - FirstLevel)][size_t(mark)])
                              .arg(masteryName(mark));
            return QStringLiteral("%1 : %2").arg(
                headerData(section, orientation, Qt::DisplayRole).toString(),
                counts.join(QStringLiteral(", ")));
        }
        // The first click puts those who need the teacher first.
        if (role == Qt::InitialSortOrderRole)
            return Qt::AscendingOrder;
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        switch (section) {
        case ChildColumn:
            return QStringLiteral("Élève");
        case AnswersColumn:
            return QStringLiteral("Réponses");
        case ShareColumn:
            return QStringLiteral("Part juste");
        case kLastActivity:
            return QStringLiteral("Dernière\nactivité");
        default:
            return levelName(kLevels[size_t(section - FirstLevel)].bound);
        }
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const ClassChild *shown = child(index.row());
        if (!shown)
            return {};
        if (index.column() == ChildColumn && role == Qt::ToolTipRole)
            return QStringLiteral("%1, %2. %3").arg(shown->machine, shown->player, nameTip());
        if (index.column() >= FirstLevel && index.column() < kLastActivity) {
            const int bound = kLevels[size_t(index.column() - FirstLevel)].bound;
            return markCellData(bound, shown->recent.value(bound), role);
        }
        if (role != Qt::DisplayRole && role != Qt::EditRole)
            return {};
        switch (index.column()) {
        case ChildColumn:
            if (role == Qt::EditRole)
                return shown->name;
            return shownName(*shown);
        case AnswersColumn:
            return QString::number(shown->total.answers);
        case ShareColumn:
            return shareText(shown->total);
        default:
            return lastText(*shown);
        }
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        return index.column() == ChildColumn ? flags | Qt::ItemIsEditable : flags;
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::EditRole || index.column() != ChildColumn || !child(index.row()))
            return false;
        ClassChild &named = m_children[index.row()];
        named.name = value.toString();
        m_keys[size_t(index.row())] = nameKey(shownName(named));
        Q_EMIT dataChanged(index, index);
        m_named(named);
        return true;
    }

private:
    // Made once per name for the whole run: a class is read every second.
    QCollatorSortKey nameKey(const QString &name)
    {
        auto known = m_nameKeys.constFind(name);
        if (known == m_nameKeys.cend())
            known = m_nameKeys.insert(name, m_collator.sortKey(name));
        return *known;
    }

    QList<ClassChild> m_children;
    QDateTime m_now;
    std::vector<QCollatorSortKey> m_keys;
    std::vector<std::array<double, kLastActivity + 1>> m_values; // what a sort compares
    std::array<std::array<int, kMarks.size()>, kLevels.size()> m_counts{};
    Named m_named;
    QCollator m_collator;
    QHash<QString, QCollatorSortKey> m_nameKeys;
};

namespace {

class ChildrenOrder final : public QSortFilterProxyModel
{
public:
    ChildrenOrder(ChildrenModel *children, QObject *parent)
        : QSortFilterProxyModel(parent), m_children(children)
    {
        setSourceModel(children);
    }
    void setFilter(ClassGrid::Filter filter)
    {
        m_filter = filter;
        invalidateRowsFilter();
    }

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override
    {
        return m_children->lessThan(left.row(), right.row(), left.column());
    }
    bool filterAcceptsRow(int row, const QModelIndex &) const override
    {
        return m_children->accepts(row, m_filter);
    }

private:
    ChildrenModel *m_children;
    ClassGrid::Filter m_filter = ClassGrid::Everyone;
};

} // namespace

ClassGrid::ClassGrid(std::function<void(const ClassChild &)> named)
    : m_model(new ChildrenModel(std::move(named), this)), m_order(new ChildrenOrder(m_model, this))
{
    setModel(m_order);
    setUpTable(this, QStringLiteral("élèves de la classe"));
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The server's order until the teacher clicks a header.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    // The teacher names a child in place; the name stays on this machine.
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (const ClassChild *child = chosen())
            m_chosen = std::pair(child->machine, child->player);
    });
    connect(m_model, &QAbstractItemModel::dataChanged, this, &ClassGrid::fitColumns);
    connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &ClassGrid::fitColumns);
}

void ClassGrid::setChildren(QList<ClassChild> children, const QDateTime &now)
{
    {
        const QSignalBlocker quiet(selectionModel());
        m_model->setChildren(std::move(children), now);
    }
    fitColumns();
    chooseAgain();
}

void ClassGrid::setFilter(Filter filter)
{
    {
        const QSignalBlocker quiet(selectionModel());
        static_cast<ChildrenOrder *>(m_order)->setFilter(filter);
    }
    chooseAgain();
}

const ClassChild *ClassGrid::chosen() const
{
    return m_model->child(m_order->mapToSource(currentIndex()).row());
}

QSize ClassGrid::wholeSize() const
{
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return QSize(horizontalHeader()->length() + bar,
                 horizontalHeader()->sizeHint().height() +
                     m_order->rowCount() * verticalHeader()->defaultSectionSize()) +
           2 * QSize(frameWidth(), frameWidth());
}

// The child chosen before, wherever the order puts them; the first one at
// the first reading. A child erased is no longer chosen: nobody is.
void ClassGrid::chooseAgain()
{
    const int column = std::max(0, currentIndex().column());
    const int row = m_chosen ? m_model->rowOf(*m_chosen) : 0;
    if (row < 0)
        m_chosen.reset();
    const QModelIndex shown = m_order->mapFromSource(m_model->index(row, column));
    if (shown.isValid()) {
        chooseCell(this, shown.row(), column);
        m_chosen = std::pair(chosen()->machine, chosen()->player);
        return;
    }
    const QSignalBlocker quiet(selectionModel());
    selectionModel()->clear();
    viewport()->update();
}

// Every name, mark and date whole, whichever rows are on screen. The widest
// digit stands for every digit, so that "poste1" to "poste99" are measured
// once: measuring 100 000 names took 300 ms.
void ClassGrid::fitColumns()
{
    const QFontMetrics metrics = fontMetrics();
    QChar widest = u'0';
    for (char16_t digit = u'1'; digit <= u'9'; ++digit)
        if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widest))
            widest = QChar(digit);
    const auto width = [&](QString text) {
        std::replace_if(
            text.begin(), text.end(), [](QChar c) { return c.isDigit(); }, widest);
        auto known = m_widths.constFind(text);
        if (known == m_widths.cend())
            known = m_widths.insert(text, metrics.horizontalAdvance(text));
        return *known;
    };
    std::array<int, kLastActivity + 1> widths{};
    widths[ShareColumn] = width(QStringLiteral("100 %"));
    for (const Mastery mark : kMarks)
        std::fill(&widths[FirstLevel], &widths[kLastActivity],
                  std::max(widths[FirstLevel], width(markText(mark))));
    const ClassChild *oldest = m_model->child(0);
    int answers = 0;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const ClassChild &child = *m_model->child(row);
        widths[ChildColumn] = std::max(widths[ChildColumn], width(shownName(child)));
        answers = std::max(answers, child.total.answers);
        oldest = child.last < oldest->last ? &child : oldest;
    }
    widths[AnswersColumn] = width(QString::number(answers));
    widths[kLastActivity] = oldest ? width(m_model->lastText(*oldest)) : 0;
    // The header's words too, in bold, and the sort arrow of the sorted one.
    const int padding =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 1;
    for (int column = 0; column <= kLastActivity; ++column)
        horizontalHeader()->resizeSection(column,
                                          std::max(widths[size_t(column)] + padding,
                                                   horizontalHeader()->sectionSizeHint(column)));
}

void ClassGrid::keyPressEvent(QKeyEvent *event)
{
    // F2 names the child of the current row, whichever column has the keyboard.
    if (event->key() == Qt::Key_F2 && currentIndex().isValid()) {
        const QModelIndex name = currentIndex().siblingAtColumn(ChildColumn);
        setCurrentIndex(name);
        edit(name);
        return;
    }
    QTableView::keyPressEvent(event);
}
