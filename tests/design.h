// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>

#include <array>

// The window as designed, in tab order, positions and sizes in pixels (the
// design's twips divided by 15).
struct ControlDesign
{
    const char *name;
    const char16_t *text; // nullptr where the design leaves the text to us
    int left, top, width, height;
    bool visible;

    QRect pixels() const { return {left, top, width, height}; }
    QString designText() const { return text ? QString::fromUtf16(text) : QString(); }
};

inline constexpr std::array<ControlDesign, 23> kDesign{{
    {"Text1", u"BIENVENUE", 32, 32, 217, 33, true},
    {"Command6", u"3", 216, 80, 33, 17, true},
    {"Command5", u"2", 128, 80, 33, 17, true},
    {"Command4", u"1", 32, 80, 33, 17, true},
    {"Command1", u"moins de 200", 232, 120, 121, 21, true},
    {"Text2", u"", 64, 160, 121, 65, true},
    {"Text3", u"", 224, 160, 121, 65, true},
    {"Text4", u"", 376, 160, 121, 65, true},
    {"Text5", u"", 64, 256, 121, 65, true},
    {"Text6", u"", 224, 256, 121, 65, true},
    {"Command2", u"OK", 384, 256, 113, 65, false},
    {"Command9", u"moins de 50", 56, 120, 121, 21, true},
    {"Command10", u"moins de 1000", 376, 120, 121, 21, true},
    {"Label1", u"+", 192, 168, 33, 49, true},
    {"Label2", u"=", 344, 168, 33, 49, true},
    {"Label3", u"N de    parties reussies", 224, 336, 121, 25, true},
    {"Label4", nullptr, 344, 32, 345, 49, true},
    {"Command3", u"REMISE  A  0  SCORE", 56, 368, 121, 13, true},
    {"Command7", u"moins de 5000", 536, 120, 121, 21, true},
    {"Command15", u"moins de 10 000", 536, 160, 121, 21, true},
    {"Text7", u"", 64, 392, 121, 65, true},
    {"Text8", nullptr, 256, 376, 345, 97, false},
    {"Command18", u"POURQUOI   ?", 392, 480, 129, 25, true},
}};

// The banner's colours are the form's own, as a screenshot gives them
// (0xRRGGBB).
inline constexpr unsigned kBannerBlue = 0x0000FF;

inline const ControlDesign &design(const char *name)
{
    for (const ControlDesign &control : kDesign)
        if (QLatin1StringView(control.name) == QLatin1StringView(name))
            return control;
    qFatal("no control named %s", name);
}
