// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/conversions.h"

#include <QLocale>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <limits>

using namespace conversions;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<double>)

namespace {
const std::optional<double> kFails = std::nullopt;
}

class TestConversions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A French desktop groups digits with blanks and writes a decimal
        // comma: none of that may reach the game's fields.
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    }

    void lenient_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<double>>("expected");
        QTest::addRow("empty") << QString() << std::optional(0.0);
        QTest::addRow("nothing") << u"nothing"_s << std::optional(0.0);
        QTest::addRow("12") << u"12"_s << std::optional(12.0);
        QTest::addRow("-3") << u"-3"_s << std::optional(-3.0);
        QTest::addRow("plus sign") << u"+7"_s << std::optional(7.0);
        QTest::addRow("leading blanks") << u"  \t42"_s << std::optional(42.0);
        QTest::addRow("trailing text") << u"12abc"_s << std::optional(12.0);
        QTest::addRow("stops at inner blank") << u"1 000"_s << std::optional(1.0);
        QTest::addRow("fraction") << u"7.5"_s << std::optional(7.5);
        QTest::addRow("fraction without integer") << u".25"_s << std::optional(0.25);
        QTest::addRow("trailing point") << u"5."_s << std::optional(5.0);
        QTest::addRow("comma is not a decimal point") << u"3,5"_s << std::optional(3.0);
        QTest::addRow("lone sign") << u"-"_s << std::optional(0.0);
        QTest::addRow("lone point") << u"."_s << std::optional(0.0);
        QTest::addRow("exponent not read") << u"1e5"_s << std::optional(1.0);
        QTest::addRow("non-ASCII digits") << u"\u0663"_s << std::optional(0.0);
        QTest::addRow("32768") << u"32768"_s << std::optional(32768.0);
        QTest::addRow("largest double")
            << QString(u"17976931348623157"_s + QString(292, u'0')) << std::optional(DBL_MAX);
        QTest::addRow("too large") << QString(u"1"_s + QString(400, u'0')) << kFails;
        QTest::addRow("too large negative") << QString(u"-9"_s + QString(400, u'9')) << kFails;
        QTest::addRow("too small reads as zero")
            << QString(u"0."_s + QString(400, u'0') + u"1"_s) << std::optional(0.0);
    }

    void lenient()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<double>, expected);
        QCOMPARE(lenientValue(text), expected);
    }

    void strict_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<double>>("expected");
        QTest::addRow("42") << u"42"_s << std::optional(42.0);
        QTest::addRow("negative") << u"-6"_s << std::optional(-6.0);
        QTest::addRow("blanks around") << u" 42 "_s << std::optional(42.0);
        QTest::addRow("fraction") << u"0.5"_s << std::optional(0.5);
        QTest::addRow("empty") << QString() << kFails;
        QTest::addRow("blanks only") << u"   "_s << kFails;
        QTest::addRow("nothing") << u"nothing"_s << kFails;
        QTest::addRow("trailing letters") << u"42a"_s << kFails;
        QTest::addRow("inner blank") << u"4 2"_s << kFails;
        QTest::addRow("grouped digits") << u"10 000"_s << kFails;
        QTest::addRow("decimal comma") << u"3,5"_s << kFails;
        QTest::addRow("lone sign") << u"-"_s << kFails;
        QTest::addRow("two signs") << u"--4"_s << kFails;
        QTest::addRow("too large") << QString(400, u'9') << kFails;
    }

    void strict()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<double>, expected);
        QCOMPARE(strictValue(text), expected);
    }

    void strictShort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1000000 when the conversion fails
        QTest::addRow("32767") << u"32767"_s << 32767;
        QTest::addRow("32768") << u"32768"_s << -1000000;
        QTest::addRow("-32768") << u"-32768"_s << -32768;
        QTest::addRow("-32769") << u"-32769"_s << -1000000;
        QTest::addRow("zero") << u"0"_s << 0;
        QTest::addRow("half rounds to even") << u"2.5"_s << 2;
        QTest::addRow("odd half rounds up") << u"7.5"_s << 8;
        QTest::addRow("rounds past the top") << u"32767.5"_s << -1000000;
        QTest::addRow("not a number") << u"nothing"_s << -1000000;
        QTest::addRow("empty") << QString() << -1000000;
    }

    void strictShort()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<std::int16_t> value = conversions::strictShort(text);
        QCOMPARE(value ? int(*value) : -1000000, expected);
    }

    void numberToText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::addRow("-2") << -2.0 << u"-2"_s;
        QTest::addRow("10000") << 10000.0 << u"10000"_s;
        QTest::addRow("20000") << 20000.0 << u"20000"_s;
        QTest::addRow("zero") << 0.0 << u"0"_s;
        QTest::addRow("negative zero") << -0.0 << u"0"_s;
        QTest::addRow("-32768") << -32768.0 << u"-32768"_s;
        QTest::addRow("fraction") << 7.5 << u"7.5"_s;
        QTest::addRow("15 significant digits") << 0.1 + 0.2 << u"0.3"_s;
        QTest::addRow("small fraction") << 0.000125 << u"0.000125"_s;
        QTest::addRow("negative fraction") << -1.25 << u"-1.25"_s;
        QTest::addRow("large whole") << 123456789012345.0 << u"123456789012345"_s;
        QTest::addRow("beyond 15 digits") << 1e20 << u"100000000000000000000"_s;
        QTest::addRow("16 digits") << 1234567890123456.0 << u"1234567890123456"_s;
        QTest::addRow("17 digits") << -12345678901234568.0 << u"-12345678901234568"_s;
        QTest::addRow("exact beyond 17 digits")
            << 1234567890123456789.0 << u"1234567890123456768"_s;
        QTest::addRow("2 to the 70th") << std::ldexp(1.0, 70) << u"1180591620717411303424"_s;
    }

    void numberToText()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(conversions::numberToText(value), expected);
    }

    // Everything the game writes into a field, it must read back unchanged.
    void wholeNumbersRoundTrip()
    {
        QList<double> values{1.0, -1.0, 50.0, 9999.0, 32767.0, -32768.0, -123456789.0, -DBL_MAX};
        // Every length of whole number a double holds, from 16 digits to 309.
        for (int digits = 16; digits <= 309; ++digits)
            values << std::trunc(-std::pow(10.0, digits - 1) * 1.2345678901234567);
        for (double v : values) {
            const QString text = conversions::numberToText(v);
            QCOMPARE(lenientValue(text), std::optional(v));
            QCOMPARE(strictValue(text), std::optional(v));
            if (v <= -1e15)
                QCOMPARE(text.size(), 1 + qsizetype(std::log10(-v)) + 1);
        }
    }

    void shortAndSingleToText()
    {
        QCOMPARE(shortToText(0), u"0"_s);
        QCOMPARE(shortToText(-3), u"-3"_s);
        QCOMPARE(shortToText(32767), u"32767"_s);
        QCOMPARE(singleToText(1.0f), u"1"_s);
        QCOMPARE(singleToText(10000.0f), u"10000"_s);
    }

    void integerPartRoundsDown()
    {
        QCOMPARE(integerPart(0.999), 0.0);
        QCOMPARE(integerPart(49.9999), 49.0);
        QCOMPARE(integerPart(-0.5), -1.0);
        QCOMPARE(integerPart(3.0), 3.0);
    }
};

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
