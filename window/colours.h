// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/window_state.h"

#include <QColor>

// The one way from the game's 0xBBGGRR values to the colours Qt paints.
inline QColor toQColor(BgrColour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}
