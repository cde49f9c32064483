// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What a program tells an adult: one French sentence, and behind it, shown
// on request, the words of the library that failed, for whoever helps them.
struct Notice
{
    QString text;
    QString details;
};
