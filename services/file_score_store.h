// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "quiz/score_store.h"

// The scores in the user's $XDG_CONFIG_HOME/MyApp.conf, in its [Startup]
// group, where every version of the game has kept them.
//
// A save replaces the whole file at once (a new file beside it, synced, then
// renamed over it), so a copy of the game killed half-way, a full disk or a
// failing write leaves the old file as it was and is reported. Saves from
// copies running at once take turns under a lock they wait for at most about
// a second. A file with lines nobody can read is copied to MyApp.conf.bak
// before the first save rewrites it without them.
class FileScoreStore final : public ScoreStore
{
public:
    FileScoreStore();

    ScoreRead read(const QString &key) const override;
    [[nodiscard]] bool save(const QString &key, const QString &value) override;
    QString location() const override { return m_path; }

private:
    QString m_path;
};
