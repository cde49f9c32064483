// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Tells the child, in one short sentence, what to do when a click cannot go
// on with what the window holds.
class Messenger
{
public:
    virtual ~Messenger() = default;
    virtual void tell(const QString &message) = 0;
};
