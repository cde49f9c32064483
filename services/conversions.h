// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Every number in the game lives as the text of a field. These conversions are
// the only way between the two forms. They never consult the system locale:
// a French desktop must read and write 10000, not "10 000" or "10000,0".
namespace conversions {

// The number written at the start of the text (blanks, an optional sign,
// digits, an optional '.' and fraction); 0 when the text starts with no
// number. Empty only when the number is too large for a double.
std::optional<double> lenientValue(const QString &text);

// The number the whole text holds (blanks around it allowed); empty when the
// text is not exactly a number or the number is too large for a double.
std::optional<double> strictValue(const QString &text);

// The whole number the text holds, rounded to the nearest (ties to even) when
// the text holds a fraction; empty when the text is not a number or the value
// lies outside -32768..32767.
std::optional<std::int16_t> strictShort(const QString &text);

// Plain decimal digits with a leading '-' when negative: no blanks, no digit
// grouping, no exponent. A whole value is written exactly; a fraction is
// written with '.' and at most 15 significant digits. The value must be finite.
QString numberToText(double value);

QString shortToText(std::int16_t value);

// The two addends are drawn as singles; their text is their plain digits.
QString singleToText(float value);

// The largest whole number not greater than the value.
double integerPart(double value);

} // namespace conversions
