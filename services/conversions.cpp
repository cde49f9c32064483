// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/conversions.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <system_error>

namespace conversions {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The longest prefix of text, from position `from`, that reads as
// [sign] digits [. digits]. Returns its ASCII form and where it ends.
struct NumberPrefix
{
    std::string ascii;
    qsizetype end = 0;
    bool hasDigits = false;
    bool hasNonZeroIntegerDigit = false;
};

NumberPrefix scanNumber(const QString &text, qsizetype from)
{
    NumberPrefix prefix;
    qsizetype i = from;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            prefix.ascii.push_back('-');
        ++i;
    }
    for (; i < text.size() && isAsciiDigit(text[i]); ++i) {
        prefix.ascii.push_back(static_cast<char>(text[i].unicode()));
        prefix.hasDigits = true;
        prefix.hasNonZeroIntegerDigit = prefix.hasNonZeroIntegerDigit || text[i] != u'0';
    }
    if (i < text.size() && text[i] == u'.') {
        qsizetype j = i + 1;
        std::string fraction;
        for (; j < text.size() && isAsciiDigit(text[j]); ++j)
            fraction.push_back(static_cast<char>(text[j].unicode()));
        if (!fraction.empty() || prefix.hasDigits) {
            prefix.ascii += '.';
            prefix.ascii += fraction;
            prefix.hasDigits = prefix.hasDigits || !fraction.empty();
            i = j;
        }
    }
    prefix.end = i;
    return prefix;
}

// Converts a scanned number. A value too small to represent reads as zero;
// one too large for a double is a failure.
std::optional<double> toDouble(const NumberPrefix &prefix)
{
    if (!prefix.hasDigits)
        return 0.0;
    std::string digits = prefix.ascii;
    if (!digits.empty() && digits.back() == '.')
        digits.pop_back();
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        if (prefix.hasNonZeroIntegerDigit)
            return std::nullopt;
        return 0.0;
    }
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The longest shortest text: a sign, "0." and 340 places (the smallest
// double's first digit is the 324th, and 17 digits always suffice).
constexpr std::size_t kLongestPlainDouble = 1 + 2 + 340;

double roundedToFifteenDigits(double value)
{
    char buffer[32];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    double rounded = value;
    const auto read = std::from_chars(buffer, written.ptr, rounded);
    return read.ec == std::errc() ? rounded : value;
}

qsizetype skipBlanks(const QString &text, qsizetype from)
{
    while (from < text.size() && isBlank(text[from]))
        ++from;
    return from;
}

} // namespace

std::optional<double> lenientValue(const QString &text)
{
    return toDouble(scanNumber(text, skipBlanks(text, 0)));
}

std::optional<double> strictValue(const QString &text)
{
    const NumberPrefix prefix = scanNumber(text, skipBlanks(text, 0));
    if (!prefix.hasDigits || skipBlanks(text, prefix.end) != text.size())
        return std::nullopt;
    return toDouble(prefix);
}

std::optional<std::int16_t> strictShort(const QString &text)
{
    const std::optional<double> value = strictValue(text);
    if (!value)
        return std::nullopt;
    const double rounded = std::nearbyint(*value);
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

QString numberToText(double value)
{
    // Every caller checks first: an infinity or a NaN has no text the game
    // could read back.
    Q_ASSERT(std::isfinite(value));
    if (value == 0.0)
        return QStringLiteral("0");
    // A typed fraction keeps 15 significant digits, as the game has always
    // shown it: 0.1 + 0.2 is shown as 0.3, and an answer of 0.3 is right.
    if (std::trunc(value) != value)
        value = roundedToFifteenDigits(value);
    // Otherwise the shortest text that reads back as the same double, with no
    // exponent: a whole value is written exactly, every digit of it, up to the
    // 309 of the largest double.
    char buffer[kLongestPlainDouble];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    Q_ASSERT(result.ec == std::errc());
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString shortToText(std::int16_t value)
{
    return QString::number(value);
}

QString singleToText(float value)
{
    return numberToText(static_cast<double>(value));
}

double integerPart(double value)
{
    return std::floor(value);
}

} // namespace conversions
