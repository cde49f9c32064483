// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "../program_run.h"

#include <QString>

#include <functional>

// Polls the condition until it holds or the time limit passes.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs, int intervalMs = 40);

// The programs the suite needs that are not on this machine, space-separated.
QString missingTools();

// Asks the window to close, as a window manager's close button does.
bool sendDeleteWindow(quint32 window);
