// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// The window's design fixes its colours, so the window fixes its whole look
// rather than take half of it from the desktop: dark text on the light
// colours the game paints, readable buttons and visible borders on every
// score colour, under a dark desktop theme too. Message boxes and Qt's own
// dialogs keep the desktop's look. With it go the window's frame (no
// maximise on a fixed size) and the one font size a Designer form cannot
// hold (Label4's 20.25 points).
void applyDesignLook(QWidget &form);
