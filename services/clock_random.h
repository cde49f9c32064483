// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/random_source.h"

#include <cstdint>
#include <random>

// Reseeded from the clock whenever the rules ask, which they do before every
// draw. The clock alone can read the same twice in a row, which would make
// both addends of a problem equal, so each seed also mixes in a count of the
// reseeds made so far.
class ClockRandom final : public RandomSource
{
public:
    ClockRandom();
    void reseed() override;
    float draw() override;

private:
    std::mt19937 m_engine;
    std::uint32_t m_reseeds = 0;
};
