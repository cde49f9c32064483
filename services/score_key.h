// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QString>

// QSettings reads '/' and '\' in a key as group separators: "a/b" would land
// in a sub-group, "/" and "//" would name the same score, and in the Windows
// registry "a\b" and "a/b" would collide. Keys stored through QSettings are
// therefore escaped first ('%' too, so the escaping stays reversible); the
// player keys the game itself uses contain none of the three and are stored
// as they are. Version 1.0.0 of the game wrote its score file this way.
namespace score_key {

QString encode(const QString &key);

} // namespace score_key
