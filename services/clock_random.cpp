// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/clock_random.h"

#include <chrono>

ClockRandom::ClockRandom()
{
    reseed();
}

void ClockRandom::reseed()
{
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    ++m_reseeds;
    std::seed_seq seed{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32),
                       m_reseeds};
    m_engine.seed(seed);
}

float ClockRandom::draw()
{
    // 24 random bits fill a single's mantissa exactly, so the result is
    // uniform on [0, 1) and can never round up to 1.
    const std::uint32_t bits = static_cast<std::uint32_t>(m_engine()) >> 8;
    return static_cast<float>(bits) / 16777216.0f;
}
