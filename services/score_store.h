// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// What the store holds under a key.
struct ScoreRead
{
    // Empty when no score is stored under the key.
    std::optional<QString> score;
    // False when the store could not be read: then nothing is known.
    bool readable = true;
};

// One score text per player key, kept from one run to the next.
class ScoreStore
{
public:
    virtual ~ScoreStore() = default;
    virtual ScoreRead read(const QString &key) const = 0;
    // Stores the value under the key, replacing any earlier one. False when
    // the value could not be kept; an empty key is never stored.
    [[nodiscard]] virtual bool save(const QString &key, const QString &value) = 0;
    // Where the scores are kept, for a parent to look at when a save fails.
    virtual QString location() const = 0;
};
