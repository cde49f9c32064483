// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_view.h"

#include "progress/class_queries.h"
#include "progress/tables.h"
#include "services/worker_thread.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>
#include <chrono>

namespace {

constexpr std::array kBounds{50, 200, 1000, 5000, 10000};

QString share(int right, int answers)
{
    return answers > 0 ? QStringLiteral("%1 %").arg(100 * right / answers) : QString();
}

QStringList childHeaders()
{
    QStringList headers{QStringLiteral("Poste"), QStringLiteral("Joueur"),
                        QStringLiteral("Réponses"), QStringLiteral("Part juste")};
    for (int bound : kBounds)
        headers << QStringLiteral("moins de %1").arg(bound);
    return headers << QStringLiteral("Dernière activité");
}

} // namespace

ClassViewWidget::ClassViewWidget(QWidget *parent)
    : QWidget(parent), m_queries(new ClassQueries),
      m_thread(std::make_unique<WorkerThread>(m_queries)), m_status(new QLabel),
      m_children(readOnlyTable(QStringLiteral("élèves de la classe"), childHeaders())),
      m_carries(readOnlyTable(
          QStringLiteral("réponses selon les retenues"),
          {QStringLiteral("Retenues"), QStringLiteral("Réponses"), QStringLiteral("Part juste")}))
{
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
    m_status->setText(view.problem);
    m_status->setVisible(!view.problem.isEmpty());
    QList<QStringList> children;
    for (const ClassChild &child : view.children) {
        QStringList row{child.machine, child.player, QString::number(child.answers),
                        share(child.right, child.answers)};
        for (int bound : kBounds) {
            const auto [answers, right] = child.recent.value(bound);
            row << mastery(answers, right);
        }
        children << (row << child.last.toLocalTime().toString(u"dd/MM/yyyy HH:mm"));
    }
    fillTable(m_children, children);
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
    if (row < 0 || !m_children->item(row, 0) || !m_children->item(row, 1))
        return;
    const QString machine = m_children->item(row, 0)->text();
    const QString player = m_children->item(row, 1)->text();
    const auto answer = QMessageBox::question(
        this, window()->windowTitle(),
        QStringLiteral("Effacer du serveur toutes les réponses de %1, %2 ? Cela ne peut pas être "
                       "défait.")
            .arg(machine, player));
    if (answer == QMessageBox::Yes)
        m_thread->post([queries = m_queries, machine, player] { queries->erase(machine, player); });
}
