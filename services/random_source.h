// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class RandomSource
{
public:
    virtual ~RandomSource() = default;
    // Starts a new sequence from the clock.
    virtual void reseed() = 0;
    // The next number r of the sequence, 0 <= r < 1.
    virtual float draw() = 0;
};
