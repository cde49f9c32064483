// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_tab.h"

#include "classroom/class_queries.h"
#include "history/progress_queries.h"
#include "progress/mastery_marks.h"
#include "progress/notice_line.h"
#include "progress/report_pdf.h"
#include "progress/score_chart.h"
#include "progress/tables.h"
#include "quiz/tables.h"
#include "services/worker_thread.h"

#include <QAbstractItemDelegate>
#include <QAbstractTableModel>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QTableWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

namespace {

// A child is named by the teacher, or else by their computer and player key.
enum Column { ChildColumn, AnswersColumn, ShareColumn, FirstLevel };
constexpr int kLastActivity = FirstLevel + int(kLevels.size());

QString nameTip()
{
    return QStringLiteral("F2 ou un double clic : le nom que vous donnez à l'élève, qui reste "
                          "sur cet ordinateur.");
}

} // namespace

// The children of the class, one row each: any number of them, since only
// the rows on screen are ever drawn. Only the name, the teacher's, can be
// changed.
class ChildrenModel final : public QAbstractTableModel
{
public:
    using Named = std::function<void(const ClassChild &child)>;
    explicit ChildrenModel(Named named, QObject *parent)
        : QAbstractTableModel(parent), m_named(std::move(named))
    {}

    void setChildren(QList<ClassChild> children)
    {
        beginResetModel();
        m_children = std::move(children);
        endResetModel();
    }
    const ClassChild *child(int row) const
    {
        return row >= 0 && row < m_children.size() ? &m_children[row] : nullptr;
    }
    int rowOf(const ClassChild *child) const
    {
        for (int row = 0; child && row < m_children.size(); ++row)
            if (m_children[row].machine == child->machine &&
                m_children[row].player == child->player)
                return row;
        return -1;
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
        if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section == ChildColumn)
            return nameTip();
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
            return shown->last.toLocalTime().toString(u"dd/MM HH:mm");
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
        Q_EMIT dataChanged(index, index);
        m_named(named);
        return true;
    }

private:
    QList<ClassChild> m_children;
    Named m_named;
};

ClassTab::ClassTab(QWidget *parent)
    : QWidget(parent), m_queries(new ClassQueries),
      m_thread(std::make_unique<WorkerThread>(m_queries)), m_status(new NoticeLine),
      m_model(new ChildrenModel(
          [this](const ClassChild &child) {
              m_thread->post([queries = m_queries, child] {
                  queries->name({child.machine, child.player}, child.name);
              });
          },
          this)),
      m_children(new QTableView),
      m_carries(readOnlyTable(QStringLiteral("réponses de la classe selon les retenues"),
                              carriesHeaders())),
      m_childTitle(new QLabel), m_childChart(new ScoreChart),
      m_childLast(readOnlyTable(QStringLiteral("dernières réponses de l'élève"), answerHeaders())),
      m_childCarries(
          readOnlyTable(QStringLiteral("sommes de l'élève selon les retenues"), carriesHeaders()))
{
    setUpTable(m_children, QStringLiteral("élèves de la classe"));
    m_children->setModel(m_model);
    // Columns as wide as the rows on screen need: measuring a thousand rows
    // of a large class would hold the window up each time it fills.
    m_children->horizontalHeader()->setResizeContentsPrecision(0);
    // The teacher names a child in place (F2 or a double click); the name
    // stays on this machine.
    m_children->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed);
    m_children->installEventFilter(this);
    // A view that arrives while a name is typed waits for the name.
    connect(m_children->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (m_waiting)
            display(*std::exchange(m_waiting, std::nullopt));
    });
    m_status->say({QStringLiteral("calcul…"), {}});
    auto *exportButton = new QPushButton(QStringLiteral("Exporter la classe…"));
    auto *eraseButton = new QPushButton(QStringLiteral("Effacer les réponses de cet élève"));
    auto *reportButton = new QPushButton(QStringLiteral("Enregistrer en PDF…"));
    auto *actions = new QHBoxLayout;
    actions->addWidget(exportButton);
    actions->addWidget(reportButton);
    actions->addWidget(eraseButton);
    actions->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(actions);
    layout->addWidget(m_status);
    layout->addWidget(m_children, 3);
    layout->addWidget(markLegend());
    // Below the grid, the chosen child at a glance, or the class by carries.
    auto *child = new QWidget;
    auto *childLayout = new QGridLayout(child);
    m_childTitle->setWordWrap(true);
    childLayout->addWidget(m_childTitle, 0, 0, 1, 3);
    childLayout->addWidget(m_childChart, 1, 0);
    childLayout->addWidget(m_childLast, 1, 1);
    childLayout->addWidget(m_childCarries, 1, 2);
    childLayout->setColumnStretch(0, 3);
    childLayout->setColumnStretch(1, 3);
    childLayout->setColumnStretch(2, 2);
    auto *below = new QTabWidget;
    below->addTab(child, QStringLiteral("L'élève choisi"));
    below->addTab(m_carries, QStringLiteral("La classe selon les retenues"));
    layout->addWidget(below, 2);
    connect(m_children->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ClassTab::askForChosenChild);
    connect(m_queries, &ClassQueries::childLoaded, this, &ClassTab::showChild);
    connect(m_queries, &ClassQueries::loaded, this, &ClassTab::display);
    connect(m_queries, &ClassQueries::done, this, [this](const Notice &failure) {
        if (!failure.text.isEmpty())
            warn(this, failure);
    });
    connect(exportButton, &QPushButton::clicked, this, &ClassTab::exportClass);
    connect(eraseButton, &QPushButton::clicked, this, &ClassTab::eraseChild);
    connect(reportButton, &QPushButton::clicked, this, &ClassTab::saveReport);
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
    // Always how fresh the class is; a server away leaves it as last read.
    if (!view.readAt.isValid())
        m_status->say({view.problem, view.details});
    else if (view.awaySince.isValid())
        m_status->say({QStringLiteral("Le serveur ne répond plus depuis %1 : voici les réponses "
                                      "reçues avant. %2")
                           .arg(view.awaySince.toString(u"HH:mm"), view.problem),
                       view.details});
    else
        m_status->say({QStringLiteral("à jour à %1").arg(view.readAt.toString(u"HH:mm:ss")), {}});
    // The grid on screen is that reading already, with the names typed since.
    if (view.awaySince.isValid() && view.readAt == m_shown.readAt)
        return;
    // The child the teacher chose stays chosen as others come and go: an
    // erasure must not fall on another child.
    const int column = std::max(0, m_children->currentIndex().column());
    std::optional<ClassChild> chosen;
    if (const ClassChild *current = m_model->child(m_children->currentIndex().row()))
        chosen = *current;
    m_model->setChildren(view.children);
    m_shown = view;
    m_asked.reset(); // their answers may have changed too
    const int row = chosen ? m_model->rowOf(&*chosen) : 0;
    // Their answers came with the class, read at the same moment: the row
    // and the chart agree.
    const bool readTogether = chosen && row >= 0 && view.chosen &&
                              view.chosen->machine == chosen->machine &&
                              view.chosen->player == chosen->player;
    if (readTogether)
        m_asked = ChildNames::Child{chosen->machine, chosen->player};
    if (row >= 0 && m_model->rowCount() > 0)
        chooseCell(m_children, row, column);
    fillTable(m_carries, carriesRows(view.carries));
    if (readTogether)
        showChild(*view.chosen);
    else
        askForChosenChild();
}

void ClassTab::askForChosenChild()
{
    const ClassChild *child = m_model->child(m_children->currentIndex().row());
    if (!child) {
        m_asked.reset();
        showChild({});
        return;
    }
    // Choosing the cell again after a reload moves the grid's current row
    // when it has the keyboard: one read for both.
    const ChildNames::Child chosen{child->machine, child->player};
    if (m_asked == chosen)
        return;
    m_asked = chosen;
    m_thread->post([queries = m_queries, chosen] { queries->loadChild(chosen); });
}

void ClassTab::showChild(const ChildDetail &detail)
{
    const ClassChild *child = m_model->child(m_children->currentIndex().row());
    // An answer for a child the teacher has since left waits for the next.
    if (child && (child->machine != detail.machine || child->player != detail.player))
        return;
    if (!child)
        m_childTitle->setText(QStringLiteral("Choisissez un élève dans la liste."));
    else if (!detail.problem.isEmpty())
        m_childTitle->setText(detail.problem);
    else
        m_childTitle->setText(
            QStringLiteral("%1 : ses %2 dernières réponses, et les sommes selon leurs retenues, "
                           "les plus difficiles d'abord.")
                .arg(shownName(*child))
                .arg(detail.answers.size()));
    m_childChart->setAnswers(child ? detail.answers : QList<HistoryRow>());
    QList<QStringList> last;
    for (qsizetype i = detail.answers.size() - 1;
         child && i >= 0 && last.size() < ProgressQueries::kLastAnswers; --i)
        last << answerCells(detail.answers[i]);
    fillTable(m_childLast, last);
    fillTable(m_childCarries, child ? carriesRows(detail.carries) : QList<QStringList>());
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

// The class's grid on paper, written on the class's thread: a school's
// thousands of children take many pages.
void ClassTab::saveReport()
{
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Enregistrer en PDF"),
                                     QStringLiteral("classe.pdf"), QStringLiteral("PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    m_thread->post([queries = m_queries, file, view = m_shown] {
        Q_EMIT queries->done({writeClassReport(file, view), {}});
    });
}

void ClassTab::eraseChild()
{
    const ClassChild *child = m_model->child(m_children->currentIndex().row());
    if (!child)
        return;
    if (confirmErasure(
            this,
            QStringLiteral("Effacer du serveur les %1 réponse(s) de %2, %3%4 ? "
                           "Cela ne peut pas être défait.")
                .arg(child->total.answers)
                .arg(child->machine, child->player,
                     child->name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(child->name))))
        m_thread->post([queries = m_queries, erased = std::pair(child->machine, child->player)] {
            queries->erase(erased);
        });
}

// F2 names the child of the current row, whichever column has the keyboard.
bool ClassTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_children && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F2 &&
        m_children->currentIndex().isValid()) {
        const QModelIndex name = m_model->index(m_children->currentIndex().row(), ChildColumn);
        m_children->setCurrentIndex(name);
        m_children->edit(name);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
