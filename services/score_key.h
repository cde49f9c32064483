// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QString>

// QSettings reads '/' and '\' in a key as group separators: "a/b" would land
// in a sub-group, "/" and "//" would name the same score, and on Windows "a\b"
// and "a/b" would collide. Every key a child can type is therefore escaped
// before it reaches QSettings; '%' is escaped too so that the encoding stays
// reversible. The player keys the game itself uses contain none of the three
// and are stored as they are.
namespace score_key {

QString encode(const QString &key);
QString decode(const QString &encoded);

} // namespace score_key
