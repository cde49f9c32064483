// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QtGlobal>

// Where the system has a settings area of its own (the Windows registry,
// macOS preferences), the scores live there; elsewhere in a file the game
// owns.
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
#include "services/settings_score_store.h"
using PlatformScoreStore = SettingsScoreStore;
#else
#include "services/file_score_store.h"
using PlatformScoreStore = FileScoreStore;
#endif
