// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

qsizetype skipBlanks(const QString &text, qsizetype from)
{
    while (from < text.size() && isBlank(text[from]))
        ++from;
    return from;
}

// Writes a finite, non-whole or very large value from its most significant
// digits, placing the decimal point by hand so that no exponent appears.
std::string plainDecimal(double value, int significantDigits)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::scientific, significantDigits - 1);
    const std::string scientific(buffer, result.ptr);
    const auto ePosition = scientific.find('e');
    const bool negative = scientific.front() == '-';
    std::string digits;
    for (char c : scientific.substr(0, ePosition))
        if (c >= '0' && c <= '9')
            digits.push_back(c);
    const int exponent = std::stoi(scientific.substr(ePosition + 1));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string plain;
    const auto integerDigits = exponent + 1;
    if (integerDigits <= 0) {
        plain = "0." + std::string(static_cast<size_t>(-integerDigits), '0') + digits;
    } else if (static_cast<size_t>(integerDigits) >= digits.size()) {
        plain = digits + std::string(static_cast<size_t>(integerDigits) - digits.size(), '0');
    } else {
        plain = digits.substr(0, static_cast<size_t>(integerDigits)) + '.' +
                digits.substr(static_cast<size_t>(integerDigits));
    }
    if (negative)
        plain.insert(plain.begin(), '-');
    return plain;
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
    if (std::trunc(value) == value && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    // Fifteen digits read back as the same number the game shows, except at
    // the very top of the double range, where rounding up would make a text
    // too large to read back; there all seventeen digits are kept.
    std::string text = plainDecimal(value, 15);
    double readBack = 0.0;
    if (std::from_chars(text.data(), text.data() + text.size(), readBack).ec != std::errc())
        text = plainDecimal(value, 17);
    return QString::fromLatin1(text);
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
