// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/join_dialog.h"

#include "classroom/class_join.h"
#include "progress/notice_line.h"
#include "progress/off_the_window.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

void askAndJoinClass(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Rejoindre une classe"));
    auto *address = new QLineEdit, *code = new QLineEdit;
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto *form = new QFormLayout(&dialog);
    form->addRow(new QLabel(QStringLiteral("L'adresse et le code que l'enseignant donne :")));
    form->addRow(QStringLiteral("&Adresse :"), address);
    form->addRow(QStringLiteral("&Code :"), code);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString problem;
    if (offTheWindow(parent, [&] { return joinClass(address->text(), code->text(), problem); }))
        tell(parent, QStringLiteral("Cet ordinateur a rejoint la classe : les réponses de ses "
                                    "joueurs y partiront."));
    else
        warn(parent, {problem, {}});
}
