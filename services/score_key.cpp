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

QString decode(const QString &encoded)
{
    QString key;
    key.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const auto escape = std::find_if(kEscapes.begin(), kEscapes.end(), [&](const Escape &e) {
            return QStringView(encoded).mid(i, 3) == e.escaped;
        });
        if (escape == kEscapes.end()) {
            key.append(encoded[i]);
        } else {
            key.append(escape->plain);
            i += 2;
        }
    }
    return key;
}

} // namespace score_key
