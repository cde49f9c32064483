// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/progress_window.h"

#include "classroom/class_sender.h"
#include "history/progress_queries.h"
#include "progress/answer_tables.h"
#include "progress/class_room.h"
#include "progress/class_tab.h"
#include "progress/join_dialog.h"
#include "progress/mastery_marks.h"
#include "progress/notice_line.h"
#include "progress/report_pdf.h"
#include "progress/score_chart.h"
#include "progress/window_size.h"
#include "services/worker_thread.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <chrono>

namespace {

// The periods a parent may look at: the last days, or everything.
constexpr int kPeriodDays[] = {7, 30, 0};
const QString kTab = QStringLiteral("fenetres/onglet");

QString playerName(const QString &key)
{
    return key.endsWith(QStringLiteral("_joueur"))
               ? QStringLiteral("joueur ") + key.section(u'_', 0, 0)
               : key;
}

} // namespace

ProgressWindow::ProgressWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_queries(new ProgressQueries(outboxStatus())),
      m_thread(std::make_unique<WorkerThread>(m_queries)), m_players(new QComboBox),
      m_period(new QComboBox), m_status(new QLabel), m_problem(new NoticeLine),
      m_setAside(new QWidget), m_setAsideText(new QLabel), m_marks(markRow()),
      m_chart(new ScoreChart),
      m_levels(readOnlyTable(QStringLiteral("réponses par niveau"),
                             {QStringLiteral("Niveau"), QStringLiteral("Réponses"),
                              QStringLiteral("Justes"), QStringLiteral("Part juste")})),
      m_last(readOnlyTable(QStringLiteral("dernières réponses"), answerHeaders()))
{
    setWindowTitle(QStringLiteral("Additions : progrès"));
    m_players->setAccessibleName(QStringLiteral("joueur"));
    m_period->setAccessibleName(QStringLiteral("période"));
    m_period->addItems({QStringLiteral("7 derniers jours"), QStringLiteral("30 derniers jours"),
                        QStringLiteral("tout")});
    // The three players always; any other key (the welcome one) once it has answers.
    for (const QString &key :
         {QStringLiteral("1_joueur"), QStringLiteral("2_joueur"), QStringLiteral("3_joueur")})
        m_players->addItem(playerName(key), key);
    auto *exportButton = new QPushButton(QStringLiteral("Exporter…"));
    auto *clearButton = new QPushButton(QStringLiteral("Effacer l'historique"));
    auto *reportButton = new QPushButton(QStringLiteral("Enregistrer en PDF…"));
    m_setAsideText->setWordWrap(true);
    m_setAsideText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *understood = new QPushButton(QStringLiteral("Compris"));
    auto *setAsideLayout = new QHBoxLayout(m_setAside);
    setAsideLayout->setContentsMargins(0, 0, 0, 0);
    setAsideLayout->addWidget(m_setAsideText, 1);
    setAsideLayout->addWidget(understood);
    m_setAside->hide();

    // Whose answers and when, then what to do with them: two rows fit a
    // small screen with a large font.
    auto *choices = new QGridLayout;
    choices->addWidget(m_players, 0, 0);
    choices->addWidget(m_period, 0, 1);
    choices->addWidget(m_status, 0, 2, 1, 2);
    choices->addWidget(exportButton, 1, 0);
    choices->addWidget(reportButton, 1, 1);
    choices->addWidget(clearButton, 1, 2);
    // A class opened on this computer, or this computer joining one.
    auto *classButton = new QPushButton(QStringLiteral("Classe…"));
    auto *classMenu = new QMenu(classButton);
    classMenu->addAction(QStringLiteral("Ouvrir une classe sur cet ordinateur…"), this, [this] {
        // The class and its room at once, the code on screen.
        ClassRoom::open(this, [this] {
            addClassTabs();
            m_tabs->setCurrentIndex(m_tabs->count() - 1);
        });
    });
    classMenu->addAction(QStringLiteral("Rejoindre une classe…"), this,
                         [this] { askAndJoinClass(this); });
    classButton->setMenu(classMenu);
    choices->addWidget(classButton, 1, 3);
    choices->setColumnStretch(4, 1);
    // This computer's history; beside it the class, for a teacher whose
    // connection to the class's server is set up.
    auto *local = new QWidget;
    auto *outer = new QVBoxLayout(this);
    m_tabs->addTab(local, QStringLiteral("Cet ordinateur"));
    m_tabs->setDocumentMode(true);
    addClassTabs();
    // The class when the teacher looked at it last.
    m_tabs->setCurrentIndex(remembered(kTab).toInt());
    connect(m_tabs, &QTabWidget::currentChanged, this, [](int tab) { remember(kTab, tab); });
    outer->addWidget(m_tabs);
    outer->setContentsMargins(0, 0, 0, 0);
    // Room for the tables on a small screen with a large font.
    m_chart->setMinimumHeight(m_chart->minimumHeight() / 4);
    auto *layout = new QVBoxLayout(local);
    layout->addLayout(choices);
    layout->addWidget(m_problem);
    layout->addWidget(m_setAside);
    layout->addWidget(m_marks);
    layout->addWidget(markLegend());
    layout->addWidget(m_chart, 2);
    layout->addWidget(m_levels, 1);
    layout->addWidget(m_last, 2);
    setObjectName(QStringLiteral("progres"));
    restoreSize(this);

    // The window opens on the player: a screen reader says whose progress
    // it shows, whenever the tables fill.
    m_players->setFocus();
    connect(m_players, &QComboBox::currentIndexChanged, this, &ProgressWindow::refresh);
    connect(m_period, &QComboBox::currentIndexChanged, this, &ProgressWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &ProgressWindow::exportCsv);
    connect(clearButton, &QPushButton::clicked, this, &ProgressWindow::clearPlayer);
    connect(reportButton, &QPushButton::clicked, this, &ProgressWindow::saveReport);
    connect(understood, &QPushButton::clicked, this, &ProgressWindow::dismissSetAside);
    connect(m_queries, &ProgressQueries::loaded, this, &ProgressWindow::display);
    connect(m_queries, &ProgressQueries::done, this, &ProgressWindow::finished);
    refresh();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    keepSize(this);
    QWidget::closeEvent(event);
}

void ProgressWindow::addClassTabs()
{
    // The class for a teacher whose connection to its server is set up,
    // and the room of a class this computer hosts.
    if (m_tabs->count() == 1 && ClassConnection::configured(ClassConnection::kTeacher))
        m_tabs->addTab(new ClassTab, QStringLiteral("Classe"));
    if (m_tabs->count() == 2 && ClassHost().exists())
        m_tabs->addTab(new ClassRoom, QStringLiteral("Salle"));
    m_tabs->tabBar()->setVisible(m_tabs->count() > 1);
}

ProgressWindow::~ProgressWindow()
{
    // A query over a huge history is not waited for long: the window goes.
    m_thread->stop(std::chrono::milliseconds(500));
}

QString ProgressWindow::player() const
{
    return m_players->currentData().toString();
}

void ProgressWindow::refresh()
{
    const int days = kPeriodDays[std::max(0, m_period->currentIndex())];
    const QDateTime since = days > 0 ? QDateTime::currentDateTimeUtc().addDays(-days) : QDateTime();
    m_status->setText(QStringLiteral("calcul…"));
    m_thread->post([queries = m_queries, request = ++m_request, player = player(), since] {
        queries->load(request, player, since);
    });
}

void ProgressWindow::display(const ProgressView &view)
{
    // An answer to a request overtaken by another is dropped.
    if (view.request != m_request)
        return;
    m_status->clear();
    // A computer no child played on: the teacher came for the class.
    if (m_tabs->count() > 1 && std::exchange(m_firstView, false) && view.players.isEmpty() &&
        view.levels.isEmpty())
        m_tabs->setCurrentIndex(1);
    for (const QString &key : view.players)
        if (m_players->findData(key) < 0) {
            const QSignalBlocker quiet(m_players);
            m_players->addItem(playerName(key), key);
        }
    m_problem->say(
        {(view.problem + u' ' + view.classStatus.text).trimmed(), view.classStatus.details});
    m_playerAnswers = view.playerAnswers;
    m_shown = view;
    QStringList setAside;
    for (const SetAside &file : view.setAside)
        setAside << QStringLiteral("L'historique était abîmé : il a été mis de côté le %1 dans "
                                   "%2, et un nouvel historique a été commencé. Les réponses "
                                   "d'avant n'apparaissent plus ici.")
                        .arg(shownTimeInSentence(file.when), QDir::toNativeSeparators(file.file));
    m_setAsideText->setText(setAside.join(u'\n'));
    m_setAside->setVisible(!setAside.isEmpty());

    m_chart->setAnswers(view.chart);

    QList<QStringList> levels;
    for (const auto &[bound, tally] : view.levels.asKeyValueRange())
        levels << QStringList{bound > 0 ? levelName(bound) : QStringLiteral("autre"),
                              QString::number(tally.answers), QString::number(tally.right),
                              shareText(tally)};
    fillTable(m_levels, levels);
    fillMarkRow(m_marks, view.recent);

    QList<QStringList> last;
    for (const HistoryRow &row : view.last)
        last << answerCells(row);
    fillTable(m_last, last);
}

void ProgressWindow::finished(const QString &failure)
{
    const QString done = m_done.isEmpty() ? QString() : m_done.takeFirst();
    if (!failure.isEmpty())
        warn(this, {failure, {}});
    else if (!done.isEmpty())
        tell(this, done);
    refresh();
}

void ProgressWindow::exportCsv()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exporter l'historique"),
                                                      QStringLiteral("additions.csv"),
                                                      QStringLiteral("Tableur (*.csv)"));
    if (file.isEmpty())
        return;
    m_status->setText(QStringLiteral("export…"));
    m_done << writtenTo(file);
    m_thread->post(
        [queries = m_queries, name = QFile::encodeName(file)] { queries->exportTo(name); });
}

// A page for a parents' meeting: what the window shows of the player.
void ProgressWindow::saveReport()
{
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Enregistrer en PDF"),
        QStringLiteral("additions-%1.pdf").arg(player()), QStringLiteral("PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    const QString failure =
        writeChildReport(file, m_players->currentText(), m_period->currentText(), m_shown);
    if (!failure.isEmpty())
        warn(this, {failure, {}});
    else
        tell(this, writtenTo(file));
}

void ProgressWindow::clearPlayer()
{
    if (!confirmErasure(this, QStringLiteral("Effacer tout l'historique de %1, %2 réponse(s) ? "
                                             "Cela ne peut pas être défait. Son score n'est pas "
                                             "touché.")
                                  .arg(m_players->currentText())
                                  .arg(m_playerAnswers)))
        return;
    m_status->setText(QStringLiteral("calcul…"));
    m_done << QString();
    m_thread->post([queries = m_queries, player = player()] { queries->clear(player); });
}

void ProgressWindow::dismissSetAside()
{
    m_setAside->hide();
    m_thread->post([queries = m_queries] { queries->dismissSetAside(); });
}
