// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "services/score_store.h"

// The scores live in the per-user native settings of organisation "MyApp",
// group "Startup": $XDG_CONFIG_HOME/MyApp.conf on Linux, the user's registry
// area on Windows, a preferences file on macOS.
//
// Where the settings are a file, a save never loses a score another copy of
// the game has just stored, survives being killed half-way, reports a disk it
// cannot write to, and keeps a copy of a damaged file before rewriting it.
class SettingsScoreStore final : public ScoreStore
{
public:
    QString read(const QString &key) const override;
    [[nodiscard]] bool save(const QString &key, const QString &value) override;

    // Where the scores are kept, for messages and tests.
    static QString location();
};
