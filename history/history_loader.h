// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_module.h"

// The history's module, loaded on the first call from any thread, beside the
// program or where it is installed; null when it cannot be loaded, with
// `problem` (if given) saying why in French.
HistoryModule *historyModule(QString *problem = nullptr);

// A writer from the module, or null without it: what the game's recorder
// writes with.
std::unique_ptr<HistoryWriter> openHistoryWriter();
