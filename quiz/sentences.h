// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the game tells the child when a click cannot go on.
namespace sentences {

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

// The store's location is a file, or on Windows a registry key named from
// its root.
inline bool isRegistryKey(const QString &location)
{
    return location.startsWith(QLatin1StringView("HKEY_"));
}

// Said to the child, for a parent: what to check, and where.
inline QString scoreNotKept(const QString &location)
{
    return QStringLiteral("Ton score n'a pas pu être enregistré. Demande à un adulte de vérifier "
                          "que le disque n'est pas plein et que ") +
           (isRegistryKey(location) ? QStringLiteral("cette clé du registre peut être modifiée : ")
                                    : QStringLiteral("ce fichier peut être modifié : ")) +
           location;
}

inline QString scoreNotRead(const QString &location)
{
    return QStringLiteral("Ton score n'a pas pu être lu. Demande à un adulte de vérifier ") +
           (isRegistryKey(location) ? QStringLiteral("cette clé du registre : ")
                                    : QStringLiteral("ce fichier : ")) +
           location;
}

// A new problem, for a screen reader to say.
inline QString problem(const QString &first, const QString &second)
{
    return first + QStringLiteral(" plus ") + second;
}

// The verdict of an answer, for a screen reader to say.
inline QString verdict(bool right, const QString &first, const QString &second, const QString &sum,
                       const QString &score)
{
    return (right ? QStringLiteral("Juste ! ") : QStringLiteral("Faux : ")) + first +
           QStringLiteral(" + ") + second + QStringLiteral(" = ") + sum +
           QStringLiteral(". Score : ") + score + QStringLiteral(".");
}

} // namespace sentences
