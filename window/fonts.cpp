// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/fonts.h"

#include <QFont>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList closeFaces{QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                 QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")};
    // Windows keeps "MS Sans Serif" as a bitmap face that does not scale to
    // the design's 30 points; its outline twin comes first.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               QStringList{QStringLiteral("Microsoft Sans Serif")} + closeFaces);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), closeFaces);
}
