#pragma once

// The optional manifest keys that make downloads checkable, read strictly:
// "FileSize" n and "FileHash" n in [FILES], "Serial" and "Expires" in
// [VERSION]. A key that is absent and one whose value is malformed are told
// apart, so a damaged manifest is never read as one without checks.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

namespace verify {

template <typename T> struct OptionalKey
{
    std::optional<T> value;
    bool malformed = false;

    bool absent() const { return !value && !malformed; }
    static OptionalKey missing() { return {}; }
    static OptionalKey bad() { return {std::nullopt, true}; }
    static OptionalKey of(T v) { return {std::move(v), false}; }
};

// Key names of entry n ("FileSize12", "FileHash12").
QByteArray fileSizeKey(int n);
QByteArray fileHashKey(int n);

// Size in bytes: decimal digits only, within the signed 64-bit range.
OptionalKey<qint64> parseFileSize(const std::optional<QByteArray>& value);
// SHA-256 of the file: exactly 64 lower-case hex digits; the value is the 32
// raw bytes.
OptionalKey<QByteArray> parseFileHash(const std::optional<QByteArray>& value);
// Publication number: decimal digits only, within the signed 64-bit range.
OptionalKey<qint64> parseSerial(const std::optional<QByteArray>& value);
// "YYYY-MM-DDTHH:MM:SSZ", a real UTC date and time.
OptionalKey<QDateTime> parseExpires(const std::optional<QByteArray>& value);

// The forms the publisher writes.
QByteArray formatExpires(const QDateTime& when);
QByteArray formatHash(QByteArrayView sha256);

} // namespace verify
