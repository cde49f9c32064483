// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/messenger.h"

#include <QPointer>
#include <QWidget>

// Shows each message in a small modal box over the game's window.
class MessageBoxMessenger final : public Messenger
{
public:
    void setParent(QWidget *parent) { m_parent = parent; }
    void tell(const QString &message) override;

private:
    QPointer<QWidget> m_parent;
};
