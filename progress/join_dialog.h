// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// "Rejoindre une classe…": asks an adult the address and the code the
// teacher gives, joins, and says how it went.
void askAndJoinClass(QWidget *parent);
