// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/beeper.h"
#include "services/worker_thread.h"

#include <memory>

// The beep the child hears. On Linux, where the X bell is often silent and
// absent under Wayland, it plays the desktop's own "bell" sound through
// libcanberra; where that cannot play, and on other systems, it is the
// toolkit's beep. Beeps are queued and played one after another on a thread
// of their own, so three beeps are three distinct sounds and the window never
// waits for them.
class SystemBeeper final : public Beeper
{
public:
    SystemBeeper();
    ~SystemBeeper() override;
    void beep() override;

private:
    class Player;
    Player *m_player; // lives on the thread, which owns it
    std::unique_ptr<WorkerThread> m_thread;
};
