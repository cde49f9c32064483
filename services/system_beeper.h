// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "services/beeper.h"

class SystemBeeper final : public Beeper
{
public:
    void beep() override;
};
