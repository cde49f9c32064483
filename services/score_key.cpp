// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/score_key.h"

#include <algorithm>
#include <array>

namespace score_key {
namespace {

struct Escape
{
    QChar plain;
    QLatin1StringView escaped;
};

constexpr std::array kEscapes{
    Escape{u'%', QLatin1StringView("%25")},
    Escape{u'/', QLatin1StringView("%2F")},
    Escape{u'\\', QLatin1StringView("%5C")},
};

} // namespace

QString encode(const QString &key)
{
    QString encoded;
    encoded.reserve(key.size());
    for (const QChar c : key) {
        const auto escape = std::find_if(kEscapes.begin(), kEscapes.end(),
                                         [c](const Escape &e) { return e.plain == c; });
        if (escape == kEscapes.end())
            encoded.append(c);
        else
            encoded.append(escape->escaped);
    }
    return encoded;
}

} // namespace score_key
