// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/score_store.h"

// The scores where the system keeps each user's program settings: on
// Windows the registry, HKEY_CURRENT_USER\Software\MyApp\Startup; on macOS
// the user's preferences. The system serialises access and writes them
// whole, so no file guards are needed.
class SettingsScoreStore final : public ScoreStore
{
public:
    ScoreRead read(const QString &key) const override;
    [[nodiscard]] bool save(const QString &key, const QString &value) override;
    QString location() const override;
};
