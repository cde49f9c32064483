// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QRect>
#include <QString>

#include <array>

// The window as designed, in tab order, positions in twips (15 to a pixel).
struct ControlDesign
{
    const char *name;
    const char16_t *text; // nullptr where the design leaves the text to us
    int left, top, width, height;
    bool visible;

    QRect pixels() const { return {left / 15, top / 15, width / 15, height / 15}; }
    QString designText() const { return text ? QString::fromUtf16(text) : QString(); }
};

inline constexpr std::array<ControlDesign, 23> kDesign{{
    {"Text1", u"BIENVENUE", 480, 480, 3255, 495, true},
    {"Command6", u"3", 3240, 1200, 495, 255, true},
    {"Command5", u"2", 1920, 1200, 495, 255, true},
    {"Command4", u"1", 480, 1200, 495, 255, true},
    {"Command1", u"moins de 200", 3480, 1800, 1815, 315, true},
    {"Text2", u"", 960, 2400, 1815, 975, true},
    {"Text3", u"", 3360, 2400, 1815, 975, true},
    {"Text4", u"", 5640, 2400, 1815, 975, true},
    {"Text5", u"", 960, 3840, 1815, 975, true},
    {"Text6", u"", 3360, 3840, 1815, 975, true},
    {"Command2", u"OK", 5760, 3840, 1695, 975, false},
    {"Command9", u"moins de 50", 840, 1800, 1815, 315, true},
    {"Command10", u"moins de 1000", 5640, 1800, 1815, 315, true},
    {"Label1", u"+", 2880, 2520, 495, 735, true},
    {"Label2", u"=", 5160, 2520, 495, 735, true},
    {"Label3", u"N de    parties reussies", 3360, 5040, 1815, 375, true},
    {"Label4", nullptr, 5160, 480, 5175, 735, true},
    {"Command3", u"REMISE  A  0  SCORE", 840, 5520, 1815, 195, true},
    {"Command7", u"moins de 5000", 8040, 1800, 1815, 315, true},
    {"Command15", u"moins de 10 000", 8040, 2400, 1815, 315, true},
    {"Text7", u"", 960, 5880, 1815, 975, true},
    {"Text8", nullptr, 3840, 5640, 5175, 1455, false},
    {"Command18", u"POURQUOI   ?", 5880, 7200, 1935, 375, true},
}};

inline const ControlDesign &design(const char *name)
{
    for (const ControlDesign &control : kDesign)
        if (QLatin1StringView(control.name) == QLatin1StringView(name))
            return control;
    qFatal("no control named %s", name);
}
