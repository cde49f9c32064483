// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QString>

// What the game tells the child when a click cannot go on.
namespace messages {

inline QString numberTooLarge()
{
    return QStringLiteral(
        "Ce nombre est beaucoup trop grand. Efface-le et écris un nombre plus petit.");
}

inline QString answerNotANumber()
{
    return QStringLiteral("Écris ta réponse avec des chiffres dans la case, puis clique sur OK.");
}

inline QString choosePlayer()
{
    return QStringLiteral("Choisis d'abord un joueur : clique sur 1, 2 ou 3.");
}

inline QString scoreNotKept()
{
    return QStringLiteral("Ton score n'a pas pu être enregistré. Continue à jouer : il sera "
                          "enregistré à ta prochaine réponse.");
}

} // namespace messages
