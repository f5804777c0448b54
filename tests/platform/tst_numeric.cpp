#include "Numeric.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

class TestNumeric : public QObject
{
    Q_OBJECT

private slots:
    void val_data();
    void val();
    void roundToInt32_data();
    void roundToInt32();
    void roundToInt16_data();
    void roundToInt16();
    void toInt16_data();
    void toInt16();
};

void TestNumeric::val_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        const char* name;
        QString text;
        double expected;
    } rows[] = {
        // blanks, tabs and line feeds are skipped wherever they stand
        {"spaced-digits", u" 1 2 3"_s, 123},
        {"spaced-point", u". 5"_s, 0.5},
        {"tabs-and-lf", u"\t\n1\t2"_s, 12},
        {"cr-is-not-skipped", u"\r5"_s, 0},
        // signs
        {"plus", u"+5"_s, 5},
        {"minus-blank", u"- 5"_s, -5},
        {"double-minus", u"--5"_s, 0},
        {"plus-minus", u"+-5"_s, 0},
        {"minus-point", u"-.5"_s, -0.5},
        {"sign-only", u"-"_s, 0},
        {"inner-minus-ends", u"5-3"_s, 5},
        // hexadecimal and octal
        {"hex-2-digits", u"&HFF"_s, 255},
        {"hex-small", u"&H10"_s, 16},
        {"hex-lower", u"&h1f"_s, 31},
        {"hex-4-digits-wraps", u"&HFFFF"_s, -1},
        {"hex-16-bit-min", u"&H8000"_s, -32768},
        {"hex-16-bit-max", u"&H7FFF"_s, 32767},
        {"hex-3-digits", u"&HFFF"_s, 4095},
        {"hex-leading-zero-4", u"&H00FF"_s, 255},
        {"hex-5-digits", u"&H10000"_s, 65536},
        {"hex-5-digits-ffff", u"&H0FFFF"_s, 65535},
        {"hex-8-digits-wraps", u"&HFFFFFFFF"_s, -1},
        {"hex-32-bit-min", u"&H80000000"_s, -2147483648.0},
        {"hex-9-digits-plain", u"&H123456789"_s, 4886718345.0},
        {"hex-blanks-inside", u" & H 1 0"_s, 16},
        {"hex-stops-at-non-digit", u"&H1G"_s, 1},
        {"hex-no-digit", u"&H"_s, 0},
        {"hex-bad-digit", u"&HG1"_s, 0},
        {"hex-sign-before", u"-&H10"_s, 0},
        {"hex-sign-after", u"&H-10"_s, 0},
        {"hex-no-fraction", u"&H1.5"_s, 1},
        {"octal", u"&O17"_s, 15},
        {"octal-wraps-16", u"&O177777"_s, -1},
        {"octal-32-bit", u"&O200000"_s, 65536},
        {"octal-wraps-32", u"&O37777777777"_s, -1},
        {"octal-stops-at-8", u"&O78"_s, 7},
        {"octal-no-digit", u"&O8"_s, 0},
        {"ampersand-alone", u"&"_s, 0},
        {"ampersand-other", u"&X1"_s, 0},
        // decimal point, exponent, end of number
        {"second-point", u"1.2.3"_s, 1.2},
        {"exp-e", u"1e3"_s, 1000},
        {"exp-d", u"1d2"_s, 100},
        {"exp-upper-negative", u"25E-2"_s, 0.25},
        {"exp-upper-d-plus", u"1D+1"_s, 10},
        {"exp-without-digits", u"1e"_s, 1},
        {"exp-sign-without-digits", u"1e+"_s, 1},
        {"exp-no-fraction", u"1.5e1.2"_s, 15},
        {"exp-overflow", u"1e400"_s, inf},
        {"exp-overflow-negative", u"-1e400"_s, -inf},
        {"exp-underflow", u"1e-400"_s, 0},
        {"letters-end", u"2.5abc"_s, 2.5},
        {"comma-ends", u"1,000"_s, 1},
        {"words-end", u"24 and 57"_s, 24},
        {"empty", QString(), 0},
        {"non-numeric", u"abc"_s, 0},
        {"point-only", u"."_s, 0},
        {"big", u"99999999999"_s, 99999999999.0},
        {"fullwidth-digit-ends", u"1\uff12"_s, 1},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << row.text << row.expected;
}

void TestNumeric::val()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(numeric::val(text), expected);
}

void TestNumeric::roundToInt32_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<std::optional<std::int32_t>>("expected");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::optional<std::int32_t> none;
    QTest::newRow("0.5") << 0.5 << std::optional<std::int32_t>(0);
    QTest::newRow("1.5") << 1.5 << std::optional<std::int32_t>(2);
    QTest::newRow("2.5") << 2.5 << std::optional<std::int32_t>(2);
    QTest::newRow("-2.5") << -2.5 << std::optional<std::int32_t>(-2);
    QTest::newRow("-1.5") << -1.5 << std::optional<std::int32_t>(-2);
    QTest::newRow("-0.5") << -0.5 << std::optional<std::int32_t>(0);
    QTest::newRow("2.4999") << 2.4999 << std::optional<std::int32_t>(2);
    QTest::newRow("2.5001") << 2.5001 << std::optional<std::int32_t>(3);
    QTest::newRow("just-below-half") << 0.49999999999999994 << std::optional<std::int32_t>(0);
    QTest::newRow("max-fraction") << 2147483647.49 << std::optional<std::int32_t>(2147483647);
    QTest::newRow("max-half") << 2147483647.5 << none;
    QTest::newRow("min-half") << -2147483648.5 << std::optional<std::int32_t>(-2147483647 - 1);
    QTest::newRow("below-min") << -2147483649.0 << none;
    QTest::newRow("min-minus-half-plus") << -2147483648.51 << none;
    QTest::newRow("huge") << 1e300 << none;
    QTest::newRow("inf") << inf << none;
    QTest::newRow("-inf") << -inf << none;
    QTest::newRow("nan") << nan << none;
}

void TestNumeric::roundToInt32()
{
    QFETCH(double, value);
    QFETCH(std::optional<std::int32_t>, expected);
    QCOMPARE(numeric::roundToInt32(value), expected);
}

void TestNumeric::roundToInt16_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<std::optional<std::int16_t>>("expected");

    const std::optional<std::int16_t> none;
    QTest::newRow("2.5") << 2.5 << std::optional<std::int16_t>(2);
    QTest::newRow("3.5") << 3.5 << std::optional<std::int16_t>(4);
    QTest::newRow("max-fraction") << 32767.49 << std::optional<std::int16_t>(32767);
    QTest::newRow("max-half") << 32767.5 << none;
    QTest::newRow("below-max-half") << 32766.5 << std::optional<std::int16_t>(32766);
    QTest::newRow("min-half") << -32768.5 << std::optional<std::int16_t>(-32768);
    QTest::newRow("below-min") << -32769.0 << none;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << none;
}

void TestNumeric::roundToInt16()
{
    QFETCH(double, value);
    QFETCH(std::optional<std::int16_t>, expected);
    QCOMPARE(numeric::roundToInt16(value), expected);
}

void TestNumeric::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<std::optional<std::int16_t>>("expected");

    const QLocale c = QLocale::c();
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const std::optional<std::int16_t> none;
    const auto v = [](int i) { return std::optional<std::int16_t>(std::int16_t(i)); };

    QTest::newRow("zero") << u"0"_s << us << v(0);
    QTest::newRow("one") << u"1"_s << us << v(1);
    QTest::newRow("two") << u"2"_s << c << v(2);
    QTest::newRow("surrounding-blanks") << u" \t1 "_s << us << v(1);
    QTest::newRow("plus") << u"+2"_s << us << v(2);
    QTest::newRow("negative") << u"-32768"_s << us << v(-32768);
    QTest::newRow("group-us") << u"1,000"_s << us << v(1000);
    QTest::newRow("decimal-us") << u"1.5"_s << us << v(2);
    QTest::newRow("half-even-us") << u"2.5"_s << us << v(2);
    QTest::newRow("half-to-zero") << u"0.5"_s << us << v(0);
    QTest::newRow("group-de") << u"1.000"_s << de << v(1000);
    QTest::newRow("decimal-de") << u"1,5"_s << de << v(2);
    QTest::newRow("half-even-de") << u"2,5"_s << de << v(2);
    QTest::newRow("max") << u"32767"_s << us << v(32767);
    QTest::newRow("max-fraction") << u"32767.4"_s << us << v(32767);
    QTest::newRow("too-big") << u"32768"_s << us << none;
    QTest::newRow("too-small") << u"-32769"_s << us << none;
    QTest::newRow("huge") << u"1e10"_s << us << none;
    QTest::newRow("empty") << QString() << us << none;
    QTest::newRow("blank") << u"  "_s << us << none;
    QTest::newRow("letters") << u"abc"_s << us << none;
    QTest::newRow("trailing-letters") << u"1x"_s << us << none;
    QTest::newRow("inner-blank") << u"1 2"_s << us << none;
    QTest::newRow("nan") << u"nan"_s << c << none;
    QTest::newRow("inf") << u"inf"_s << c << none;
}

void TestNumeric::toInt16()
{
    QFETCH(QString, text);
    QFETCH(QLocale, locale);
    QFETCH(std::optional<std::int16_t>, expected);
    QCOMPARE(numeric::toInt16(text, locale), expected);
}

QTEST_GUILESS_MAIN(TestNumeric)
#include "tst_numeric.moc"
