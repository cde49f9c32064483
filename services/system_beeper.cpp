// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/system_beeper.h"

#include <QApplication>

void SystemBeeper::beep()
{
    QApplication::beep();
}
