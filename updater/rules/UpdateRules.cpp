#include "UpdateRules.h"

#include "Numeric.h"

#include <QUrl>

#include <QtNumeric>

#include <limits>

using namespace Qt::StringLiterals;

namespace updaterules {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Calls `f` with each segment of `text`, split at "\" and "/" alike; empty
// and "." segments name nothing.
template <typename F> void forEachSegment(QStringView text, F&& f)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            const QStringView segment = text.sliced(start, i - start);
            if (!segment.isEmpty() && segment != u".")
                f(segment);
            start = i + 1;
        }
    }
}

} // namespace

QStringList pathSegments(QStringView text)
{
    QStringList segments;
    forEachSegment(text, [&](QStringView segment) { segments.append(segment.toString()); });
    return segments;
}

// Built in one string: large manifests make many.
QString fileKey(const QString& filePath, const QString& fileName)
{
    QString key;
    key.reserve(filePath.size() + fileName.size() + 1);
    bool first = true;
    const auto add = [&](QStringView segment) {
        if (!first)
            key += u'/';
        first = false;
        key += segment.trimmed();
    };
    forEachSegment(filePath, add);
    forEachSegment(fileName, add);
    return std::move(key).toCaseFolded();
}

std::optional<std::int32_t> entryCountFromMax(QStringView maxText)
{
    const std::optional<std::int32_t> count = numeric::roundToInt32(numeric::val(maxText));
    if (!count || *count < 0 || *count > MaxEntryCount)
        return std::nullopt;
    return count;
}

QString normaliseWebSite(const QString& webSite)
{
    QString url = webSite.trimmed();
    if (url.isEmpty())
        return url;
    if (!url.endsWith(u'/'))
        url += u'/';
    if (!url.startsWith("http://"_L1, Qt::CaseInsensitive) &&
        !url.startsWith("https://"_L1, Qt::CaseInsensitive))
        url.prepend("http://"_L1);
    return url;
}

int compareVersions(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            qsizetype endA = i;
            while (endA < a.size() && isAsciiDigit(a[endA]))
                ++endA;
            qsizetype endB = j;
            while (endB < b.size() && isAsciiDigit(b[endB]))
                ++endB;
            // Compare by value without converting: any length of digits works.
            while (i < endA - 1 && a[i] == u'0')
                ++i;
            while (j < endB - 1 && b[j] == u'0')
                ++j;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            for (; i < endA; ++i, ++j) {
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            }
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i].unicode() < b[j].unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    // Equal in value ("1.01" and "1.1"): only identical strings are equal.
    const int plain = a.compare(b);
    return plain < 0 ? -1 : (plain > 0 ? 1 : 0);
}

int percentOf(std::int64_t received, std::int64_t size)
{
    if (size <= 0 || received <= 0)
        return 0;
    if (received >= size)
        return 100;
    const auto r = static_cast<std::uint64_t>(received);
    const auto n = static_cast<std::uint64_t>(size);
    if (r <= std::numeric_limits<std::uint64_t>::max() / 100)
        return static_cast<int>(r * 100 / n);
    // 100 * r would overflow: multiply bit by bit, keeping remainders below n
    // (n < 2^63, so doubling one never overflows).
    std::uint64_t quotient = 0;
    std::uint64_t remainder = 0;
    for (int bit = 6; bit >= 0; --bit) {
        quotient *= 2;
        remainder *= 2;
        if (remainder >= n) {
            remainder -= n;
            ++quotient;
        }
        if ((100 >> bit) & 1) {
            remainder += r;
            if (remainder >= n) {
                remainder -= n;
                ++quotient;
            }
        }
    }
    return static_cast<int>(quotient);
}

QByteArray encodeRemoteName(const QString& remoteName)
{
    return QUrl::toPercentEncoding(remoteName, QByteArrayLiteral("/"));
}

bool isUnsafeEntry(const QString& filePath, const QString& fileName)
{
    const QString name = fileName.trimmed();
    const QString path = filePath.trimmed();
    // A leading separator on the name makes it absolute; on the folder it is
    // the usual way of writing a folder below the game folder, except for two
    // (a UNC prefix).
    if (!name.isEmpty() && isSeparator(name.front()))
        return true;
    if (name.isEmpty() || isSeparator(name.back()))
        return true;
    if (path.size() >= 2 && isSeparator(path.at(0)) && isSeparator(path.at(1)))
        return true;
    for (const QString* text : {&name, &path}) {
        if (text->contains(u':') || text->contains(QChar(0)))
            return true;
        bool climbs = false;
        forEachSegment(*text, [&](QStringView segment) {
            // Windows drops trailing dots and blanks, so "..", ". ." and "..."
            // would all climb up one level there.
            const QStringView bare = segment.trimmed();
            bool onlyDotsAndBlanks = true;
            for (QChar c : bare)
                onlyDotsAndBlanks = onlyDotsAndBlanks && (c == u'.' || c == u' ');
            climbs = climbs || (onlyDotsAndBlanks && bare.count(u'.') >= 2);
        });
        if (climbs)
            return true;
    }
    bool namesSomething = false;
    forEachSegment(name, [&](QStringView) { namesSomething = true; });
    return !namesSomething;
}

std::int64_t addSizes(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (a < 0 || b < 0 || qAddOverflow(a, b, &sum))
        return std::numeric_limits<std::int64_t>::max();
    return sum;
}

} // namespace updaterules
