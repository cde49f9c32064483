// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QString>

// What the game tells the child when a click cannot go on.
namespace messages {

inline QString numberTooLarge()
{
    return QStringLiteral("Ce nombre est beaucoup trop grand. Efface-le et écris un nombre plus petit.");
}

} // namespace messages
