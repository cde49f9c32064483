// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/score_store.h"

#include <QByteArray>

// The scores in the user's $XDG_CONFIG_HOME/MyApp.conf, in its [Startup]
// group, where every version of the game has kept them.
//
// A save replaces the whole file at once (a new file beside it, synced, then
// renamed over it), so a copy of the game killed half-way, a full disk or a
// failing write leaves the old file as it was and is reported. Saves from
// copies running at once take turns under a lock they wait for at most about
// a second. A file with lines nobody can read is copied to MyApp.conf.bak
// before the first save rewrites it without them; lines that are damaged
// later are added to that copy, which nothing deletes. A read-only file is
// not rewritten, and one larger than 16 MiB is refused unread. Run as root,
// the game leaves every file it writes to the user who owns the folder.
class FileScoreStore final : public ScoreStore
{
public:
    FileScoreStore();

    ScoreRead read(const QString &key) const override;
    [[nodiscard]] bool save(const QString &key, const QString &value) override;
    QString location() const override;

private:
    QByteArray m_file; // the path as the system spells it, whatever its bytes
};
