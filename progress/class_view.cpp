// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_view.h"

#include "progress/class_queries.h"
#include "progress/tables.h"
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
#include <array>
#include <chrono>
#include <utility>

namespace {

constexpr std::array kBounds{50, 200, 1000, 5000, 10000};
constexpr int kNameColumn = 2;

QString share(int right, int answers)
{
    return answers > 0 ? QStringLiteral("%1 %").arg(100 * right / answers) : QString();
}

QStringList childHeaders()
{
    QStringList headers{QStringLiteral("Poste"), QStringLiteral("Joueur"), QStringLiteral("Nom"),
                        QStringLiteral("Réponses"), QStringLiteral("Part juste")};
    for (int bound : kBounds)
        headers << QStringLiteral("moins de %1").arg(bound);
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

ClassViewWidget::ClassViewWidget(QWidget *parent)
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
    connect(m_children, &QTableWidget::itemChanged, this, &ClassViewWidget::nameChild);
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
    connect(m_queries, &ClassQueries::loaded, this, &ClassViewWidget::display);
    connect(m_queries, &ClassQueries::done, this, [this](const QString &failure) {
        if (!failure.isEmpty())
            QMessageBox::warning(this, window()->windowTitle(), failure);
    });
    connect(exportButton, &QPushButton::clicked, this, &ClassViewWidget::exportClass);
    connect(eraseButton, &QPushButton::clicked, this, &ClassViewWidget::eraseChild);
    m_thread->post([queries = m_queries] { queries->load(); });
}

ClassViewWidget::~ClassViewWidget()
{
    m_thread->stop(std::chrono::milliseconds(500));
}

void ClassViewWidget::display(const ClassView &view)
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
        QStringList row{child.machine, child.player, child.name, QString::number(child.answers),
                        share(child.right, child.answers)};
        for (int bound : kBounds) {
            const auto [answers, right] = child.recent.value(bound);
            row << mastery(answers, right);
        }
        children << (row << child.last.toLocalTime().toString(u"dd/MM/yyyy HH:mm"));
    }
    // The child the teacher chose stays chosen as others come and go: an
    // erasure must not fall on another child.
    const int current = m_children->currentRow();
    const auto keyOf = [this](int row) { return cell(row, 0) + u'\n' + cell(row, 1); };
    const QString chosen = current >= 0 ? keyOf(current) : QString();
    const int column = std::max(0, m_children->currentColumn());
    {
        // Filling is not naming.
        const QSignalBlocker quiet(m_children);
        fillTable(m_children, children);
        for (int r = 0; r < m_children->rowCount() && !chosen.isEmpty(); ++r)
            if (keyOf(r) == chosen)
                chooseCell(m_children, r, column);
    }
    QList<QStringList> carries;
    for (const CarriesRow &row : view.carries)
        carries << QStringList{QString::number(row.carries), QString::number(row.answers),
                               share(row.right, row.answers)};
    fillTable(m_carries, carries);
}

void ClassViewWidget::exportClass()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exporter la classe"),
                                                      QStringLiteral("classe.csv"),
                                                      QStringLiteral("Tableur (*.csv)"));
    if (!file.isEmpty())
        m_thread->post(
            [queries = m_queries, name = QFile::encodeName(file)] { queries->exportTo(name); });
}

void ClassViewWidget::eraseChild()
{
    const int row = m_children->currentRow();
    const QString machine = cell(row, 0), player = cell(row, 1), name = cell(row, kNameColumn);
    if (machine.isEmpty() || player.isEmpty())
        return;
    const auto answer = QMessageBox::question(
        this, window()->windowTitle(),
        QStringLiteral("Effacer du serveur toutes les réponses de %1, %2%3 ? Cela ne peut pas "
                       "être défait.")
            .arg(machine, player, name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name)));
    if (answer == QMessageBox::Yes)
        m_thread->post([queries = m_queries, machine, player] { queries->erase(machine, player); });
}

void ClassViewWidget::nameChild(QTableWidgetItem *item)
{
    const QString machine = cell(item->row(), 0), player = cell(item->row(), 1);
    if (item->column() != kNameColumn || machine.isEmpty() || player.isEmpty())
        return;
    m_thread->post([queries = m_queries, machine, player, name = item->text()] {
        queries->name(machine, player, name);
    });
}

QString ClassViewWidget::cell(int row, int column) const
{
    const QTableWidgetItem *item = m_children->item(row, column);
    return item ? item->text() : QString();
}

// F2 names the child of the current row, whichever column has the keyboard.
bool ClassViewWidget::eventFilter(QObject *watched, QEvent *event)
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
