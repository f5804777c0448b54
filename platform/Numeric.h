#pragma once

// The classic numeric conversions the stored files and the game rely on.

#include <QLocale>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace numeric {

// Reads a number from the start of `text` like the classic Val function:
// blanks, tabs and line feeds are skipped anywhere, one sign, "&H"/"&O"
// prefixes, "." as decimal point in every locale, E/D exponents; the first
// other character ends the number. Empty or non-numeric text gives 0.
double val(QStringView text);

// Rounds to the nearest 32-bit signed integer, exact halves to even. Nothing
// when the rounded value does not fit (or is not finite).
std::optional<std::int32_t> roundToInt32(double value);

// Rounds like roundToInt32, to a 16-bit signed integer.
std::optional<std::int16_t> roundToInt16(double value);

// Locale-aware text to 16-bit integer conversion (the check box states of the
// settings editor): the number is read in `locale`'s notation (group and
// decimal separators), rounded halves to even. Nothing for empty, non-numeric
// or out-of-range text.
std::optional<std::int16_t> toInt16(QStringView text, const QLocale& locale = QLocale());

} // namespace numeric
