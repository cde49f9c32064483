// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/notice_line.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

NoticeLine::NoticeLine()
    : m_text(new QLabel), m_details(new QPushButton(QStringLiteral("Détails…")))
{
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setAccessibleDescription(QStringLiteral("le message d'origine, en anglais"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_details, 0, Qt::AlignTop);
    connect(m_details, &QPushButton::clicked, this, [this] {
        QMessageBox box(QMessageBox::Information, window()->windowTitle(), m_text->text(),
                        QMessageBox::Close, this);
        box.setInformativeText(m_detailsText);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    });
    setVisible(false);
}

void NoticeLine::say(const Notice &notice)
{
    m_text->setText(notice.text);
    m_detailsText = notice.details;
    m_details->setVisible(!notice.details.isEmpty());
    setVisible(!notice.text.isEmpty());
}

QString NoticeLine::text() const
{
    return m_text->text();
}

void warn(QWidget *parent, const Notice &failure)
{
    QMessageBox box(QMessageBox::Warning, parent->window()->windowTitle(), failure.text,
                    QMessageBox::Close, parent);
    box.setDetailedText(failure.details);
    box.exec();
}

bool confirmErasure(QWidget *parent, const QString &question)
{
    return QMessageBox::question(parent, parent->window()->windowTitle(), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void tell(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, parent->window()->windowTitle(), text);
}

QString writtenTo(const QString &file)
{
    return QStringLiteral("Enregistré dans %1.").arg(QDir::toNativeSeparators(file));
}
