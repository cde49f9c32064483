// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/progress_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

// The score after each answer, as a line. Drawn with QPainter: one line and
// two axes need no chart library, and the game then starts and ships
// without one. Screen readers get the tables; the chart's description says
// where the score went.
class ScoreChart final : public QWidget
{
public:
    ScoreChart()
    {
        setMinimumSize(480, 200);
        setAccessibleName(QStringLiteral("courbe du score"));
    }
    void setScores(const QList<double> &scores)
    {
        m_scores = scores;
        setAccessibleDescription(scores.isEmpty() ? QStringLiteral("aucune réponse")
                                                  : QStringLiteral("de %1 à %2 en %3 réponses")
                                                        .arg(scores.first())
                                                        .arg(scores.last())
                                                        .arg(scores.size()));
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(40, 10, -10, -20);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawLine(area.bottomLeft(), area.bottomRight());
        painter.drawLine(area.bottomLeft(), area.topLeft());
        if (m_scores.isEmpty())
            return;
        const auto [low, high] = std::minmax_element(m_scores.begin(), m_scores.end());
        const double bottom = std::min(*low, 0.0), span = std::max(*high - bottom, 1.0);
        painter.drawText(QRectF(0, area.top() - 6, 36, 14), Qt::AlignRight,
                         QString::number(bottom + span));
        painter.drawText(QRectF(0, area.bottom() - 8, 36, 14), Qt::AlignRight,
                         QString::number(bottom));
        QPolygonF line;
        for (qsizetype i = 0; i < m_scores.size(); ++i)
            line << QPointF(area.left() + area.width() * double(i) /
                                              double(std::max<qsizetype>(m_scores.size() - 1, 1)),
                            area.bottom() - area.height() * (m_scores[i] - bottom) / span);
        painter.setPen(QPen(QColor(0x1E5AA8), 2));
        painter.drawPolyline(line);
    }

private:
    QList<double> m_scores;
};

namespace {

// The periods a parent may look at: the last days, or everything.
constexpr int kPeriodDays[] = {7, 30, 0};
// The chart shows the most recent answers: enough to see a trend, few
// enough to open at once with years of answers.
constexpr int kChartAnswers = 500;
constexpr int kLastAnswers = 20;

QTableWidget *table(const QString &name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, int(headers.size()));
    table->setAccessibleName(name);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Arrows move in the table, a row at a time, and Tab leaves it, as a
    // screen reader's user expects.
    table->setTabKeyNavigation(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return table;
}

void fill(QTableWidget *table, const QList<QStringList> &rows)
{
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    // Entering the table, a screen reader reads its first row.
    if (!rows.isEmpty())
        table->setCurrentCell(0, 0);
}

QString playerName(const QString &key)
{
    return key.endsWith(QStringLiteral("_joueur"))
               ? QStringLiteral("joueur ") + key.section(u'_', 0, 0)
               : key;
}

} // namespace

ProgressWindow::ProgressWindow(int lost, QWidget *parent)
    : QWidget(parent, Qt::Window), m_history(QStringLiteral("additions-progress")),
      m_players(new QComboBox), m_period(new QComboBox), m_problem(new QLabel),
      m_chart(new ScoreChart),
      m_levels(table(QStringLiteral("réponses par niveau"),
                     {QStringLiteral("Niveau"), QStringLiteral("Réponses"),
                      QStringLiteral("Justes"), QStringLiteral("Part juste")})),
      m_last(table(QStringLiteral("dernières réponses"),
                   {QStringLiteral("Date"), QStringLiteral("Problème"), QStringLiteral("Réponse"),
                    QStringLiteral("Juste"), QStringLiteral("Score")}))
{
    setWindowTitle(QStringLiteral("Additions : progrès"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_players->setAccessibleName(QStringLiteral("joueur"));
    m_period->setAccessibleName(QStringLiteral("période"));
    m_period->addItems({QStringLiteral("7 derniers jours"), QStringLiteral("30 derniers jours"),
                        QStringLiteral("tout")});
    // The three players always; any other key (the welcome one) once it has answers.
    QStringList keys{QStringLiteral("1_joueur"), QStringLiteral("2_joueur"),
                     QStringLiteral("3_joueur")};
    for (const QString &key : m_history.players())
        if (!keys.contains(key))
            keys << key;
    for (const QString &key : keys)
        m_players->addItem(playerName(key), key);
    auto *exportButton = new QPushButton(QStringLiteral("Exporter…"));
    auto *clearButton = new QPushButton(QStringLiteral("Effacer l'historique"));
    QString problem = m_history.problem();
    if (lost > 0)
        problem += QStringLiteral(" %1 réponse(s) de cette partie n'ont pas pu être gardées dans "
                                  "l'historique.")
                       .arg(lost);
    m_problem->setText(problem.trimmed());
    m_problem->setWordWrap(true);
    m_problem->setVisible(!m_problem->text().isEmpty());

    auto *choices = new QHBoxLayout;
    for (QWidget *widget :
         {static_cast<QWidget *>(m_players), static_cast<QWidget *>(m_period),
          static_cast<QWidget *>(exportButton), static_cast<QWidget *>(clearButton)})
        choices->addWidget(widget);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(m_problem);
    layout->addWidget(m_chart, 2);
    layout->addWidget(m_levels, 1);
    layout->addWidget(m_last, 2);
    resize(720, 640);

    connect(m_players, &QComboBox::currentIndexChanged, this, &ProgressWindow::refresh);
    connect(m_period, &QComboBox::currentIndexChanged, this, &ProgressWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &ProgressWindow::exportCsv);
    connect(clearButton, &QPushButton::clicked, this, &ProgressWindow::clearPlayer);
    refresh();
}

QString ProgressWindow::player() const
{
    return m_players->currentData().toString();
}

void ProgressWindow::refresh()
{
    const int days = kPeriodDays[std::max(0, m_period->currentIndex())];
    const QDateTime since = days > 0 ? QDateTime::currentDateTime().addDays(-days) : QDateTime();
    QList<double> scores;
    QList<HistoryRow> recent = m_history.lastAnswers(player(), since, kChartAnswers);
    std::reverse(recent.begin(), recent.end());
    for (const HistoryRow &row : recent)
        scores << row.answer.scoreAfter.toDouble();
    m_chart->setScores(scores);

    QList<QStringList> levels;
    for (const LevelSummary &level : m_history.levels(player(), since))
        levels << QStringList{level.bound > 0 ? QStringLiteral("moins de %1").arg(level.bound)
                                              : QStringLiteral("autre"),
                              QString::number(level.answers), QString::number(level.right),
                              QStringLiteral("%1 %").arg(100 * level.right / level.answers)};
    fill(m_levels, levels);

    QList<QStringList> last;
    for (const HistoryRow &row : m_history.lastAnswers(player(), since, kLastAnswers))
        last << QStringList{row.when.toString(u"dd/MM/yyyy HH:mm"),
                            row.answer.first + QStringLiteral(" + ") + row.answer.second,
                            row.answer.answer,
                            row.answer.right ? QStringLiteral("oui") : QStringLiteral("non"),
                            row.answer.scoreAfter};
    fill(m_last, last);
}

void ProgressWindow::exportCsv()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Exporter l'historique"),
                                                      QStringLiteral("additions.csv"),
                                                      QStringLiteral("Tableur (*.csv)"));
    if (!file.isEmpty() && !m_history.exportCsv(file))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("L'historique n'a pas pu être écrit dans ") + file);
}

void ProgressWindow::clearPlayer()
{
    if (player().isEmpty())
        return;
    const auto answer = QMessageBox::question(
        this, windowTitle(),
        QStringLiteral("Effacer tout l'historique de %1 ? Son score n'est pas touché.")
            .arg(m_players->currentText()));
    if (answer == QMessageBox::Yes && m_history.clear(player()))
        refresh();
}
