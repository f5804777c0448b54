// The classic numeric conversions on arbitrary text: no crash, no NaN, blanks
// skipped anywhere, plain decimals as strtod reads them, rounding within half
// a unit and halves to even, locale conversion consistent with QLocale.

#include "Numeric.h"

#include <QLocale>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

template <typename Int> void checkRounding(double value, std::optional<Int> rounded)
{
    if (!std::isfinite(value)) {
        require(!rounded);
        return;
    }
    const double nearest = std::nearbyint(value); // default mode: halves to even
    const bool fits = nearest >= double(std::numeric_limits<Int>::min()) &&
                      nearest <= double(std::numeric_limits<Int>::max());
    require(rounded.has_value() == fits);
    if (rounded)
        require(double(*rounded) == nearest);
}

// Digits, at most one point and one leading sign: the shape strtod and Val agree on.
bool plainDecimal(const std::string& s)
{
    size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    bool digit = false;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            digit = true;
        else if (s[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    static const QLocale locales[] = {
        QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::French, QLocale::France)};
    const QLocale& locale = locales[input.ConsumeIntegralInRange<size_t>(0, 3)];
    const size_t blankAt = input.ConsumeIntegral<std::uint16_t>();
    const std::int16_t whole = input.ConsumeIntegral<std::int16_t>();
    const std::string raw = input.ConsumeRemainingBytesAsString();
    const QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));

    const double v = numeric::val(text);
    require(!std::isnan(v));

    // Blanks, tabs and line feeds do not count wherever they stand.
    QString spaced = text;
    const qsizetype at = qsizetype(blankAt % size_t(text.size() + 1));
    spaced.insert(at, QStringView(u" \t\n").mid(qsizetype(blankAt % 3), 1));
    const double w = numeric::val(spaced);
    require(v == w || (std::isnan(v) && std::isnan(w)));

    if (plainDecimal(raw)) {
        const double expected = std::strtod(raw.c_str(), nullptr);
        require(v == expected || (v == 0 && expected == 0));
    }

    checkRounding<std::int32_t>(v, numeric::roundToInt32(v));
    checkRounding<std::int16_t>(v, numeric::roundToInt16(v));

    // Arbitrary text must not crash; what the locale itself prints must read.
    (void)numeric::toInt16(text, locale);
    require(numeric::toInt16(locale.toString(whole), locale) == whole);
    const double half = double(whole) + 0.5;
    const std::optional<std::int16_t> rounded =
        numeric::toInt16(QString(u' ' + locale.toString(half, 'f', 1) + u'\t'), locale);
    checkRounding<std::int16_t>(half, rounded);
    return 0;
}
