// SPDX-License-Identifier: GPL-3.0-or-later
// Must NOT build: the quiz library keeps the game's rules away from widgets,
// so code that sees only what the quiz library links cannot make one.
#include <QWidget>

int main()
{
    QWidget widget;
    return widget.isVisible() ? 1 : 0;
}
