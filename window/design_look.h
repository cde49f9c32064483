// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

class QIcon;
class QWidget;

// The window's design fixes its colours, so the window fixes its whole look
// rather than take half of it from the desktop: dark text on the light
// colours the game paints, readable buttons and visible borders on every
// score colour, under a dark desktop theme too. Message boxes and Qt's own
// dialogs keep the desktop's look.
void applyDesignLook(QWidget &form);

// The game's icon, in the sizes rendered from its SVG when it was built.
QIcon gameIcon();
