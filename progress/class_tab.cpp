// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_tab.h"

#include "classroom/class_queries.h"
#include "history/progress_queries.h"
#include "progress/answer_tables.h"
#include "progress/class_grid.h"
#include "progress/mastery_marks.h"
#include "progress/notice_line.h"
#include "progress/report_pdf.h"
#include "progress/score_chart.h"
#include "progress/window_size.h"
#include "services/worker_thread.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

const QString kSplit = QStringLiteral("fenetres/classe-separation");

} // namespace

ClassTab::ClassTab(QWidget *parent)
    : QWidget(parent), m_queries(new ClassQueries),
      m_thread(std::make_unique<WorkerThread>(m_queries)), m_status(new NoticeLine),
      m_children(new ClassGrid([this](const ClassChild &child) {
          post([queries = m_queries, child] {
              queries->name({child.machine, child.player}, child.name);
          });
      })),
      m_split(new QSplitter(Qt::Vertical)),
      m_carries(readOnlyTable(QStringLiteral("réponses de la classe selon les retenues"),
                              carriesHeaders())),
      m_childTitle(new QLabel), m_childChart(new ScoreChart),
      m_childLast(readOnlyTable(QStringLiteral("dernières réponses de l'élève"), answerHeaders())),
      m_childCarries(
          readOnlyTable(QStringLiteral("sommes de l'élève selon les retenues"), carriesHeaders()))
{
    // A view that arrives while a name is typed waits for the name.
    connect(m_children->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (m_waiting)
            display(*std::exchange(m_waiting, std::nullopt));
    });
    m_status->say({QStringLiteral("calcul…"), {}});
    auto *exportButton = new QPushButton(QStringLiteral("Exporter la classe…"));
    auto *eraseButton = new QPushButton(QStringLiteral("Effacer les réponses de cet élève"));
    // The class's grid, or the chosen child, on paper.
    auto *reportButton = new QPushButton(QStringLiteral("Enregistrer en PDF"));
    auto *reports = new QMenu(reportButton);
    reports->addAction(QStringLiteral("La classe…"), this, [this] { saveReport(false); });
    reports->addAction(QStringLiteral("L'élève choisi…"), this, [this] { saveReport(true); });
    reportButton->setMenu(reports);
    auto *filter = new QComboBox;
    filter->setAccessibleName(QStringLiteral("élèves montrés"));
    filter->addItems({QStringLiteral("Tous les élèves"), QStringLiteral("À revoir"),
                      QStringLiteral("Absents depuis une semaine")});
    filter->setItemData(1, QStringLiteral("Un niveau commencé, pas encore familier"),
                        Qt::ToolTipRole);
    auto *actions = new QHBoxLayout;
    actions->addWidget(exportButton);
    actions->addWidget(reportButton);
    actions->addWidget(eraseButton);
    actions->addStretch();
    auto *layout = new QVBoxLayout(this);
    auto *status = new QHBoxLayout;
    status->addWidget(m_status, 1);
    status->addWidget(filter, 0, Qt::AlignTop);
    layout->addLayout(actions);
    layout->addLayout(status);
    // The grid first; below it, the chosen child at a glance or the class
    // by carries, folded away when the class needs the room.
    auto *grid = new QWidget;
    auto *gridLayout = new QVBoxLayout(grid);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->addWidget(m_children);
    gridLayout->addWidget(markLegend());
    auto *child = new QWidget;
    auto *childLayout = new QGridLayout(child);
    m_childTitle->setWordWrap(true);
    m_childChart->setMinimumHeight(m_childChart->minimumHeight() / 4);
    // The tables as wide as their columns, the chart in what is left.
    childLayout->addWidget(m_childTitle, 0, 0, 1, 2);
    childLayout->addWidget(m_childChart, 1, 0, 2, 1);
    childLayout->addWidget(m_childLast, 1, 1);
    childLayout->addWidget(m_childCarries, 2, 1);
    childLayout->setColumnStretch(0, 1);
    auto *below = new QTabWidget;
    below->addTab(child, QStringLiteral("L'élève choisi"));
    below->addTab(m_carries, QStringLiteral("La classe selon les retenues"));
    m_split->addWidget(grid);
    m_split->addWidget(below);
    m_split->setCollapsible(0, false);
    m_split->handle(1)->setToolTip(QStringLiteral("Tirez pour montrer ou cacher l'élève choisi"));
    m_split->setStretchFactor(0, 1);
    layout->addWidget(m_split, 1);
    connect(m_split, &QSplitter::splitterMoved, this,
            [this] { remember(kSplit, m_split->saveState()); });
    connect(filter, &QComboBox::currentIndexChanged, this, [this](int shown) {
        m_children->setFilter(ClassGrid::Filter(shown));
        askForChosenChild();
    });
    connect(m_children->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ClassTab::askForChosenChild);
    connect(m_queries, &ClassQueries::childLoaded, this, &ClassTab::showChild);
    connect(m_queries, &ClassQueries::loaded, this, &ClassTab::display);
    connect(m_queries, &ClassQueries::done, this, [this](const Notice &failure) {
        const QString done = m_done.isEmpty() ? QString() : m_done.takeFirst();
        if (!failure.text.isEmpty())
            warn(this, failure);
        else if (!done.isEmpty())
            tell(this, done);
    });
    connect(exportButton, &QPushButton::clicked, this, &ClassTab::exportClass);
    connect(eraseButton, &QPushButton::clicked, this, &ClassTab::eraseChild);
    m_thread->post([queries = m_queries] { queries->load(); });
}

template <typename Call> void ClassTab::post(Call call, const QString &done)
{
    m_done << done;
    m_thread->post(std::move(call));
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
    // The grid on screen is that reading already, with the names typed since;
    // a class never read has nothing to show.
    if (!view.readAt.isValid() || (view.awaySince.isValid() && view.readAt == m_shown.readAt))
        return;
    const bool first = !m_shown.readAt.isValid();
    // The child the teacher chose stays chosen as others come and go: an
    // erasure must not fall on another child.
    m_children->setChildren(view.children, view.readAt);
    m_shown = view;
    m_asked.reset(); // their answers may have changed too
    m_wholeClass = m_wholeClass || first;
    if (isVisible() && std::exchange(m_wholeClass, false))
        showWholeClass();
    const ClassChild *chosen = m_children->chosen();
    // Their answers came with the class, read at the same moment: the row
    // and the chart agree.
    const bool readTogether = chosen && view.chosen && view.chosen->machine == chosen->machine &&
                              view.chosen->player == chosen->player;
    if (readTogether)
        m_asked = ChildNames::Child{chosen->machine, chosen->player};
    fillTable(m_carries, carriesRows(view.carries));
    if (readTogether)
        showChild(*view.chosen);
    else
        askForChosenChild();
}

// Measured on screen: a tab hidden behind another has no size of its own,
// and gets it once its layout has run.
void ClassTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_wholeClass, false))
        QTimer::singleShot(0, this, &ClassTab::showWholeClass);
}

// As many rows as the class has, up to the screen: the window grows, then
// the child's detail gives up its room, unless the teacher set it by hand.
void ClassTab::showWholeClass()
{
    if (m_split->restoreState(remembered(kSplit).toByteArray()))
        return;
    QWidget *window = this->window();
    const QSize missing = m_children->wholeSize() - m_children->size();
    fitToScreen(window, window->size() + missing.expandedTo({0, 0}));
    window->layout()->activate();
    const QList<int> sizes = m_split->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int grid = sizes.value(0) + m_children->wholeSize().height() - m_children->height();
    // Folded whole when too little is left for it.
    const bool fold = total - grid < m_split->widget(1)->minimumSizeHint().height();
    m_split->setSizes({fold ? total : grid, fold ? 0 : total - grid});
}

void ClassTab::askForChosenChild()
{
    const ClassChild *child = m_children->chosen();
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
    const ClassChild *child = m_children->chosen();
    // An answer for a child the teacher has since left waits for the next.
    if (child && (child->machine != detail.machine || child->player != detail.player))
        return;
    if (!child && m_shown.children.isEmpty())
        m_childTitle->setText(QStringLiteral("Aucune réponse n'est encore arrivée de la classe."));
    else if (!child)
        m_childTitle->setText(QStringLiteral("Choisissez un élève dans la liste."));
    else if (!detail.problem.isEmpty())
        m_childTitle->setText(detail.problem);
    else
        m_childTitle->setText(
            QStringLiteral("%1 : ses %2 réponses, et les sommes selon leurs retenues, "
                           "les plus difficiles d'abord.")
                .arg(shownName(*child))
                .arg(detail.chart.answers));
    // The server's sentence alone when it did not answer.
    m_childChart->setVisible(child && detail.problem.isEmpty());
    m_childChart->setAnswers(child ? detail.chart : ChartAnswers());
    QList<QStringList> last;
    for (const HistoryRow &row : detail.last)
        if (child)
            last << answerCells(row);
    fillTable(m_childLast, last);
    m_detail = detail;
    fillTable(m_childCarries, child ? carriesRows(detail.carries) : QList<QStringList>());
}

void ClassTab::exportClass()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exporter la classe"),
                                                      QStringLiteral("classe.csv"),
                                                      QStringLiteral("Tableur (*.csv)"));
    if (!file.isEmpty())
        post([queries = m_queries, name = QFile::encodeName(file)] { queries->exportTo(name); },
             writtenTo(file));
}

// The class's grid on paper, or the chosen child's, written on the class's
// thread: a school's thousands of children take many pages.
void ClassTab::saveReport(bool chosenChild)
{
    const ClassChild *child = m_children->chosen();
    if (chosenChild &&
        (!child || child->machine != m_detail.machine || child->player != m_detail.player)) {
        tell(this, QStringLiteral("Choisissez d'abord un élève dans la liste."));
        return;
    }
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Enregistrer en PDF"),
                                                      chosenChild ? QStringLiteral("eleve.pdf")
                                                                  : QStringLiteral("classe.pdf"),
                                                      QStringLiteral("PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    post(
        [queries = m_queries, file, view = m_shown, detail = m_detail,
         child = chosenChild ? std::optional(*child) : std::nullopt] {
            Q_EMIT queries->done({child ? writeClassChildReport(file, *child, detail, view.classes)
                                        : writeClassReport(file, view, view.classes),
                                  {}});
        },
        writtenTo(file));
}

void ClassTab::eraseChild()
{
    const ClassChild *child = m_children->chosen();
    if (!child)
        return;
    if (confirmErasure(
            this,
            QStringLiteral("Effacer du serveur les %1 réponse(s) de %2, %3%4 ? "
                           "Cela ne peut pas être défait.")
                .arg(child->total.answers)
                .arg(child->machine, child->player,
                     child->name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(child->name))))
        post([queries = m_queries, erased = std::pair(child->machine, child->player)] {
            queries->erase(erased);
        });
}
