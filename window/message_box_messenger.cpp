// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/message_box_messenger.h"

#include <QMessageBox>

void MessageBoxMessenger::tell(const QString &message)
{
    QMessageBox::information(m_parent, QStringLiteral("Additions"), message);
}
