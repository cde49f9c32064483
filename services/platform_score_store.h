// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The one place that chooses the store. Where the system has a settings area
// of its own (the Windows registry, macOS preferences), the scores live
// there; elsewhere in a file the game owns. Both stores are in every build;
// the file store compiles to nothing where it is not chosen.
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
#define ADDITIONS_FILE_SCORE_STORE 0
#include "services/settings_score_store.h"
using PlatformScoreStore = SettingsScoreStore;
#else
#define ADDITIONS_FILE_SCORE_STORE 1
#include "services/file_score_store.h"
using PlatformScoreStore = FileScoreStore;
#endif
