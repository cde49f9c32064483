// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_tab.h"

#include "classroom/class_queries.h"
#include "classroom/mastery.h"
#include "progress/tables.h"
#include "quiz/tables.h"
#include "services/worker_thread.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr int kNameColumn = 2;

QStringList childHeaders()
{
    QStringList headers{QStringLiteral("Poste"), QStringLiteral("Joueur"), QStringLiteral("Nom"),
                        QStringLiteral("Réponses"), QStringLiteral("Part juste")};
    for (const Level &level : kLevels)
        headers << levelName(level.bound);
    return headers << QStringLiteral("Dernière activité");
}

// Only the name takes an editor: the rest is the server's.
class NameEditor final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        return index.column() == kNameColumn
                   ? QStyledItemDelegate::createEditor(parent, option, index)
                   : nullptr;
    }
};

} // namespace

ClassTab::ClassTab(QWidget *parent)
    : QWidget(parent), m_queries(new ClassQueries),
      m_thread(std::make_unique<WorkerThread>(m_queries)), m_status(new QLabel),
      m_children(readOnlyTable(QStringLiteral("élèves de la classe"), childHeaders())),
      m_carries(readOnlyTable(
          QStringLiteral("réponses selon les retenues"),
          {QStringLiteral("Retenues"), QStringLiteral("Réponses"), QStringLiteral("Part juste")}))
{
    // The teacher names a child in place (F2 or a double click); the name
    // stays on this machine.
    m_children->setItemDelegate(new NameEditor(m_children));
    m_children->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed);
    m_children->horizontalHeaderItem(kNameColumn)
        ->setToolTip(QStringLiteral("Le nom que vous donnez à l'élève reste sur cet ordinateur."));
    connect(m_children, &QTableWidget::itemChanged, this, &ClassTab::nameChild);
    m_children->installEventFilter(this);
    // A view that arrives while a name is typed waits for the name.
    connect(m_children->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (m_waiting)
            display(*std::exchange(m_waiting, std::nullopt));
    });
    m_status->setWordWrap(true);
    m_status->setText(QStringLiteral("calcul…"));
    auto *exportButton = new QPushButton(QStringLiteral("Exporter la classe…"));
    auto *eraseButton = new QPushButton(QStringLiteral("Effacer les réponses de cet élève"));
    auto *actions = new QHBoxLayout;
    actions->addWidget(exportButton);
    actions->addWidget(eraseButton);
    actions->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(actions);
    layout->addWidget(m_status);
    layout->addWidget(m_children, 3);
    layout->addWidget(m_carries, 1);
    connect(m_queries, &ClassQueries::loaded, this, &ClassTab::display);
    connect(m_queries, &ClassQueries::done, this, [this](const QString &failure) {
        if (!failure.isEmpty())
            QMessageBox::warning(this, window()->windowTitle(), failure);
    });
    connect(exportButton, &QPushButton::clicked, this, &ClassTab::exportClass);
    connect(eraseButton, &QPushButton::clicked, this, &ClassTab::eraseChild);
    m_thread->post([queries = m_queries] { queries->load(); });
}

ClassTab::~ClassTab()
{
    m_thread->stop(std::chrono::milliseconds(500));
}

void ClassTab::display(const ClassView &view)
{
    // An editor open in the table has the keyboard.
    const QWidget *focus = QApplication::focusWidget();
    if (focus && focus != m_children && m_children->isAncestorOf(focus)) {
        m_waiting = view;
        return;
    }
    m_status->setVisible(!view.problem.isEmpty());
    // A server away leaves the class as it was last seen, and says since when.
    if (!view.problem.isEmpty() && view.children.isEmpty() && m_shownAt.isValid()) {
        m_status->setText(view.problem + QStringLiteral(" Les chiffres ci-dessous datent de %1.")
                                             .arg(m_shownAt.toString(u"HH:mm")));
        return;
    }
    m_status->setText(view.problem);
    if (view.problem.isEmpty())
        m_shownAt = QTime::currentTime();
    QList<QStringList> children;
    for (const ClassChild &child : view.children) {
        QStringList row{child.machine, child.player, child.name,
                        QString::number(child.total.answers), shareText(child.total)};
        for (const Level &level : kLevels)
            row << mastery(child.recent.value(level.bound));
        children << (row << child.last.toLocalTime().toString(u"dd/MM/yyyy HH:mm"));
    }
    // The child the teacher chose stays chosen as others come and go: an
    // erasure must not fall on another child.
    const std::pair<QString, QString> chosen = childOf(m_children->currentRow());
    const int column = std::max(0, m_children->currentColumn());
    {
        // Filling is not naming.
        const QSignalBlocker quiet(m_children);
        fillTable(m_children, children);
        for (int r = 0; r < view.children.size(); ++r) {
            const ClassChild &child = view.children[r];
            m_children->item(r, 0)->setData(Qt::UserRole, QStringList{child.machine, child.player});
            if (std::pair(child.machine, child.player) == chosen)
                chooseCell(m_children, r, column);
        }
    }
    QList<QStringList> carries;
    for (const auto &[count, tally] : view.carries.asKeyValueRange())
        carries << QStringList{QString::number(count), QString::number(tally.answers),
                               shareText(tally)};
    fillTable(m_carries, carries);
}

void ClassTab::exportClass()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exporter la classe"),
                                                      QStringLiteral("classe.csv"),
                                                      QStringLiteral("Tableur (*.csv)"));
    if (!file.isEmpty())
        m_thread->post(
            [queries = m_queries, name = QFile::encodeName(file)] { queries->exportTo(name); });
}

void ClassTab::eraseChild()
{
    const auto child = childOf(m_children->currentRow());
    if (child.first.isEmpty())
        return;
    const QTableWidgetItem *named = m_children->item(m_children->currentRow(), kNameColumn);
    const QString name = named ? named->text() : QString();
    const auto answer = QMessageBox::question(
        this, window()->windowTitle(),
        QStringLiteral("Effacer du serveur toutes les réponses de %1, %2%3 ? Cela ne peut pas "
                       "être défait.")
            .arg(child.first, child.second,
                 name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name)));
    if (answer == QMessageBox::Yes)
        m_thread->post([queries = m_queries, child] { queries->erase(child); });
}

void ClassTab::nameChild(QTableWidgetItem *item)
{
    const auto child = childOf(item->row());
    if (item->column() != kNameColumn || child.first.isEmpty())
        return;
    m_thread->post(
        [queries = m_queries, child, name = item->text()] { queries->name(child, name); });
}

std::pair<QString, QString> ClassTab::childOf(int row) const
{
    const QTableWidgetItem *first = m_children->item(row, 0);
    const QStringList child = first ? first->data(Qt::UserRole).toStringList() : QStringList();
    return child.size() == 2 ? std::pair(child[0], child[1]) : std::pair<QString, QString>();
}

// F2 names the child of the current row, whichever column has the keyboard.
bool ClassTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_children && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F2 && m_children->currentRow() >= 0) {
        if (QTableWidgetItem *name = m_children->item(m_children->currentRow(), kNameColumn)) {
            m_children->setCurrentItem(name);
            m_children->editItem(name);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
