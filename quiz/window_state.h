// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Colours travel as 24-bit values written 0xBBGGRR: blue in the high byte,
// red in the low one. window/colours.h turns them into Qt's colours.
using BgrColour = std::uint32_t;

inline constexpr BgrColour kWhite = 0xFFFFFF;
// The stake's background while a problem is open.
inline constexpr BgrColour STAKE_GREEN = 0x80FF80;

// The text boxes whose text the game reads and writes.
enum class Field { Text1, Text2, Text3, Text4, Text5, Text6, Text7 };

// The controls the game shows and hides.
enum class Toggled { Command1, Command2, Command7, Command9, Command10, Command15, Text8 };

// The controls whose background the game paints.
enum class Painted { Text7, Form1 };

// Tables of controls are indexed by these enums, in their order.
template <typename Enum> constexpr std::size_t indexOf(Enum value)
{
    return static_cast<std::size_t>(value);
}
inline constexpr std::size_t kFieldCount = indexOf(Field::Text7) + 1;
inline constexpr std::size_t kToggledCount = indexOf(Toggled::Text8) + 1;
inline constexpr std::size_t kPaintedCount = indexOf(Painted::Form1) + 1;

// The window as the game sees it. Everything the game remembers between
// clicks lives in these properties; a property reads back exactly what was
// last written, or its value in the window's design.
class WindowState
{
public:
    virtual ~WindowState() = default;

    virtual QString text(Field field) const = 0;
    virtual void setText(Field field, const QString &text) = 0;

    // Reads back the exact value last written, whatever the display can show.
    virtual BgrColour background(Painted control) const = 0;
    virtual void setBackground(Painted control, BgrColour colour) = 0;

    virtual void setVisible(Toggled control, bool visible) = 0;

    // The caption of Command18, the information toggle.
    virtual QString command18Caption() const = 0;
    virtual void setCommand18Caption(const QString &caption) = 0;

    // The bound of the level the open problem was drawn at, 0 when none
    // was: its answer is recorded at that level, whatever the stake box
    // says by then. The window keeps it, as OK's tag.
    virtual int problemBound() const = 0;
    virtual void setProblemBound(int bound) = 0;

    // Puts the keyboard focus in the field, so the child can type at once.
    virtual void setFocus(Field field) = 0;

    // Says a short sentence to a screen reader, for what a child who cannot
    // see would miss: a new problem, the verdict of an answer, a player
    // chosen.
    virtual void announce(const QString &sentence) = 0;
};
