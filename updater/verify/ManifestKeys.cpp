#include "ManifestKeys.h"

#include <QTimeZone>

#include <algorithm>
#include <limits>

namespace verify {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLowerHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

// Digits only, no sign, no blanks; nothing on overflow.
std::optional<qint64> wholeNumber(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 result = 0;
    for (char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        const int digit = c - '0';
        if (result > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        result = result * 10 + digit;
    }
    return result;
}

OptionalKey<qint64> numberKey(const std::optional<QByteArray>& value)
{
    if (!value)
        return OptionalKey<qint64>::missing();
    const auto number = wholeNumber(*value);
    return number ? OptionalKey<qint64>::of(*number) : OptionalKey<qint64>::bad();
}

// The fixed-width field at `pos`: digits only.
std::optional<int> field(QByteArrayView text, qsizetype pos, qsizetype width)
{
    const auto number = wholeNumber(text.sliced(pos, width));
    return number ? std::optional<int>(static_cast<int>(*number)) : std::nullopt;
}

} // namespace

QByteArray fileSizeKey(int n)
{
    return "FileSize" + QByteArray::number(n);
}

QByteArray fileHashKey(int n)
{
    return "FileHash" + QByteArray::number(n);
}

OptionalKey<qint64> parseFileSize(const std::optional<QByteArray>& value)
{
    return numberKey(value);
}

OptionalKey<qint64> parseSerial(const std::optional<QByteArray>& value)
{
    return numberKey(value);
}

OptionalKey<QByteArray> parseFileHash(const std::optional<QByteArray>& value)
{
    if (!value)
        return OptionalKey<QByteArray>::missing();
    if (value->size() != 64 || !std::all_of(value->begin(), value->end(), isLowerHex))
        return OptionalKey<QByteArray>::bad();
    return OptionalKey<QByteArray>::of(QByteArray::fromHex(*value));
}

OptionalKey<QDateTime> parseExpires(const std::optional<QByteArray>& value)
{
    using Result = OptionalKey<QDateTime>;
    if (!value)
        return Result::missing();
    const QByteArrayView text(*value);
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return Result::bad();
    const auto year = field(text, 0, 4), month = field(text, 5, 2), day = field(text, 8, 2);
    const auto hour = field(text, 11, 2), minute = field(text, 14, 2), second = field(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return Result::bad();
    const QDate date(*year, *month, *day);
    const QTime time(*hour, *minute, *second);
    if (!date.isValid() || !time.isValid())
        return Result::bad();
    return Result::of(QDateTime(date, time, QTimeZone::utc()));
}

QByteArray formatExpires(const QDateTime& when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")).toLatin1();
}

QByteArray formatHash(QByteArrayView sha256)
{
    return sha256.toByteArray().toHex();
}

} // namespace verify
