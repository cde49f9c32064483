// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QString>

// One score text per player key, kept from one run to the next.
class ScoreStore
{
public:
    virtual ~ScoreStore() = default;
    // The text stored under the key, or "nothing" when none is.
    virtual QString read(const QString &key) const = 0;
    // Stores the value under the key, replacing any earlier one. False when
    // the value could not be kept; an empty key is never stored.
    [[nodiscard]] virtual bool save(const QString &key, const QString &value) = 0;
};

inline QString missingScore()
{
    return QStringLiteral("nothing");
}
