// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/window_state.h"

#include <QLatin1StringView>

#include <array>
#include <cmath>
#include <optional>

struct Level
{
    Toggled button;
    int bound; // addends are drawn from 1 to bound, both included
    int stake; // points won or lost on the answer
};

// In the order in which the buttons are hidden and shown again.
inline constexpr std::array kLevels{
    Level{Toggled::Command9, 50, 1},     Level{Toggled::Command1, 200, 2},
    Level{Toggled::Command10, 1000, 4},  Level{Toggled::Command7, 5000, 6},
    Level{Toggled::Command15, 10000, 8},
};

constexpr bool boundsAndStakesRise()
{
    for (std::size_t i = 1; i < kLevels.size(); ++i)
        if (kLevels[i].bound <= kLevels[i - 1].bound || kLevels[i].stake <= kLevels[i - 1].stake)
            return false;
    return true;
}
static_assert(boundsAndStakesRise(), "a harder level must have a larger bound and stake");
// The largest sum must stay a short, so that any whole answer can be stored.
static_assert(2 * kLevels.back().bound <= 32767);

struct Player
{
    QLatin1StringView key;    // written into Text1, the banner
    QLatin1StringView spoken; // what a screen reader says of the choice
};

// Command4, Command5 and Command6, in that order.
inline constexpr std::array kPlayers{
    Player{QLatin1StringView("1_joueur"), QLatin1StringView("joueur 1")},
    Player{QLatin1StringView("2_joueur"), QLatin1StringView("joueur 2")},
    Player{QLatin1StringView("3_joueur"), QLatin1StringView("joueur 3")},
};

// The keys whose score is read back from the store, in the order tested.
inline constexpr std::array kKnownKeys{
    kPlayers[0].key,
    kPlayers[1].key,
    kPlayers[2].key,
    QLatin1StringView("BIENVENUE"),
};

// What the score box shows for a player who has no score stored yet.
inline constexpr QLatin1StringView kNoScore("nothing");

struct Band
{
    int lowest;
    int highest;
    BgrColour colour;
};

// The window's colour by score: ten bands of ten points from 1 to 100.
inline constexpr std::array kBands{
    Band{1, 10, 0x80C0FF},  Band{11, 20, 0xC0C0FF},  Band{21, 30, 0xC0E0FF}, Band{31, 40, 0xC0FFFF},
    Band{41, 50, 0xC0FFC0}, Band{51, 60, 0xFFFFC0},  Band{61, 70, 0xFFC0C0}, Band{71, 80, 0xFFC0FF},
    Band{81, 90, 0x8080FF}, Band{91, 100, 0x80FFFF},
};

constexpr bool bandsAreTenWideAndContiguous()
{
    int next = 1;
    for (const Band &band : kBands) {
        if (band.lowest != next || band.highest != band.lowest + 9)
            return false;
        next = band.highest + 1;
    }
    return next == 101;
}
static_assert(bandsAreTenWideAndContiguous());

// The window's colour for a score: the colour of the band holding it, or
// none for a score in no band (0, negative, above 100, or not whole), which
// leaves the window as it is.
inline std::optional<BgrColour> bandColour(double score)
{
    // Only the whole scores of a band match it: 7.5 is in no band.
    if (std::trunc(score) != score)
        return std::nullopt;
    for (const Band &band : kBands)
        if (score >= band.lowest && score <= band.highest)
            return band.colour;
    return std::nullopt;
}

inline constexpr QLatin1StringView kInformationClosed("POURQUOI   ?");
inline constexpr QLatin1StringView kInformationOpen("FERMER");
