#pragma once

// The rules of an update that need no network and no window: version order,
// names a manifest may not use, address and percentage arithmetic, and the
// path helpers the run and the publisher tool share. Qt Core only.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace updaterules {

// "Max" of a manifest as an entry count: nothing when negative, outside the
// 32-bit range or above MaxEntryCount.
inline constexpr std::int32_t MaxEntryCount = 1'000'000;
std::optional<std::int32_t> entryCountFromMax(QStringView maxText);

// Trims the configured address, adds "/" at its end and "http://" in front
// when it has neither "http://" nor "https://" (any letter case).
QString normaliseWebSite(const QString& webSite);

// Orders versions: runs of digits by numeric value, everything else code unit
// by code unit. Negative, zero or positive like a comparison function; only
// identical strings compare equal.
int compareVersions(QStringView a, QStringView b);
inline bool sortsAfter(QStringView a, QStringView b)
{
    return compareVersions(a, b) > 0;
}

// Whole-number percentage of `received` out of `size` (size > 0), exact.
int percentOf(std::int64_t received, std::int64_t size);

// The sum of two sizes (both at least 0), or the largest value when it would
// not fit: a sum of sizes never wraps round to look small.
std::int64_t addSizes(std::int64_t a, std::int64_t b);

// The remote name as it is appended to the site address: URL path text with "/" kept.
QByteArray encodeRemoteName(const QString& remoteName);

// True when a manifest entry could reach outside the game folder: absolute
// names, drive letters, UNC prefixes, ".." segments, ":" or NUL characters.
bool isUnsafeEntry(const QString& filePath, const QString& fileName);

inline bool isSeparator(QChar c)
{
    return c == u'/' || c == u'\\';
}

// The segments of a folder or file name, split at "\" and "/" alike; empty
// and "." segments name nothing.
QStringList pathSegments(QStringView text);

// What names the same installed file: folders and name, letter case and
// separators ignored.
QString fileKey(const QString& filePath, const QString& fileName);

} // namespace updaterules
