// Additions - a game for practising addition. GPL-3.0-or-later.
#include "quiz/bands.h"

#include "quiz/tables.h"

#include <cmath>

std::optional<BgrColour> bandColour(double score)
{
    // Only the whole scores of a band match it: 7.5 is in no band.
    if (std::trunc(score) != score)
        return std::nullopt;
    for (const Band &band : kBands)
        if (score >= band.lowest && score <= band.highest)
            return band.colour;
    return std::nullopt;
}
