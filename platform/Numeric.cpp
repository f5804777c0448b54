#include "Numeric.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace numeric {

namespace {

bool isSkipped(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The text without the characters Val skips wherever they stand.
std::u16string significant(QStringView text)
{
    std::u16string out;
    out.reserve(size_t(text.size()));
    for (const QChar c : text) {
        if (!isSkipped(c))
            out.push_back(c.unicode());
    }
    return out;
}

int digitValue(char16_t c, int base)
{
    int d = -1;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < base ? d : -1;
}

// "&H…" / "&O…" after the prefix. Short patterns wrap into the signed 16- and
// 32-bit ranges the way the classic literals do; longer ones read as their
// plain value.
double radixNumber(std::u16string_view digits, int base)
{
    double plain = 0;
    quint64 bits = 0;
    qsizetype count = 0;
    for (const char16_t c : digits) {
        const int d = digitValue(c, base);
        if (d < 0)
            break;
        plain = plain * base + d;
        bits = (bits * unsigned(base) + unsigned(d)) & 0xFFFFFFFFFFull;
        ++count;
    }
    if (count == 0)
        return 0;
    if (base == 16) {
        if (count <= 2 || count > 8)
            return plain;
        if (count <= 4)
            return double(std::int16_t(std::uint16_t(bits)));
        return double(std::int32_t(std::uint32_t(bits)));
    }
    // Octal has no whole-digit boundary at 16 bits: judge by the value.
    if (plain <= 0xFFFF)
        return double(std::int16_t(std::uint16_t(bits)));
    if (plain <= 0xFFFFFFFFu)
        return double(std::int32_t(std::uint32_t(bits)));
    return plain;
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::optional<std::int64_t> roundToRange(double value, double low, double high)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double floor = std::floor(value);
    const double fraction = value - floor; // exact for doubles
    double rounded = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        rounded = floor + 1;
    if (rounded < low || rounded > high)
        return std::nullopt;
    return std::int64_t(rounded);
}

} // namespace

double val(QStringView text)
{
    const std::u16string s = significant(text);
    size_t pos = 0;
    if (pos < s.size() && s[pos] == u'&') {
        if (pos + 1 >= s.size())
            return 0;
        const char16_t kind = s[pos + 1];
        const std::u16string_view digits = std::u16string_view(s).substr(pos + 2);
        if (kind == u'H' || kind == u'h')
            return radixNumber(digits, 16);
        if (kind == u'O' || kind == u'o')
            return radixNumber(digits, 8);
        return 0;
    }

    // Gather the decimal number into plain ASCII for from_chars.
    std::string number;
    bool negative = false;
    if (pos < s.size() && (s[pos] == u'+' || s[pos] == u'-')) {
        negative = s[pos] == u'-';
        ++pos;
    }
    bool anyDigit = false;
    while (pos < s.size() && isDigit(s[pos])) {
        number.push_back(char(s[pos++]));
        anyDigit = true;
    }
    if (pos < s.size() && s[pos] == u'.') {
        number.push_back('.');
        ++pos;
        while (pos < s.size() && isDigit(s[pos])) {
            number.push_back(char(s[pos++]));
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    if (pos < s.size() && (s[pos] == u'E' || s[pos] == u'e' || s[pos] == u'D' || s[pos] == u'd')) {
        size_t exp = pos + 1;
        std::string exponent = "e";
        if (exp < s.size() && (s[exp] == u'+' || s[exp] == u'-'))
            exponent.push_back(char(s[exp++]));
        if (exp < s.size() && isDigit(s[exp])) {
            while (exp < s.size() && isDigit(s[exp]))
                exponent.push_back(char(s[exp++]));
            number += exponent;
        }
    }

    double result = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), result);
    Q_UNUSED(end);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the result alone: tell overflow from underflow.
        const size_t e = number.find('e');
        const bool tiny = e != std::string::npos && number.compare(e, 2, "e-") == 0;
        result = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    if (result == 0)
        return 0;
    return negative ? -result : result;
}

std::optional<std::int32_t> roundToInt32(double value)
{
    const auto r = roundToRange(value, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max());
    if (!r)
        return std::nullopt;
    return std::int32_t(*r);
}

std::optional<std::int16_t> roundToInt16(double value)
{
    const auto r = roundToRange(value, std::numeric_limits<std::int16_t>::min(),
                                std::numeric_limits<std::int16_t>::max());
    if (!r)
        return std::nullopt;
    return std::int16_t(*r);
}

std::optional<std::int16_t> toInt16(QStringView text, const QLocale& locale)
{
    // Blanks around the number are forgiven, as the classic conversion does.
    const QStringView number = text.trimmed();
    if (number.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = locale.toDouble(number, &ok);
    if (!ok)
        return std::nullopt;
    return roundToInt16(value);
}

} // namespace numeric
