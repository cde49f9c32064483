// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window is designed in "MS Sans Serif" and "Tahoma", which free desktops
// do not have. Map them to free faces of close metrics, so that five-digit
// numbers and the captions fit their boxes as designed.
void installFontSubstitutes();
