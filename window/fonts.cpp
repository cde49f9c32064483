// Additions - a game for practising addition. GPL-3.0-or-later.
#include "window/fonts.h"

#include <QFont>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList closeFaces{QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                 QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), closeFaces);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), closeFaces);
}
