#pragma once

// Portable profile files ("[Section]" headers and "Key=Value" lines), read and
// written one value at a time with the behaviour the game's own profile
// functions show. Files are handled as bytes: text is UTF-8, but lines a write
// does not touch stay byte for byte whatever their encoding.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace profile {

namespace syntax {
class Index;
}

// Outcome of a write: ok, or a reason a person can read.
struct WriteResult
{
    bool ok = false;
    QString error;

    explicit operator bool() const { return ok; }
    static WriteResult success() { return {true, {}}; }
    static WriteResult failure(QString reason) { return {false, std::move(reason)}; }
};

// The value of `key` in `section` of the file at `path`, or nothing when the
// file, the section or the key is missing. Names are trimmed and matched
// without regard to ASCII letter case. Never creates a file. Reads of one file
// are served from a cache that is refreshed when the file's size or time stamp
// changes, so many reads parse the file once and outside changes are seen.
std::optional<QByteArray> readValue(const QString& path, QByteArrayView section,
                                    QByteArrayView key);

// Sets `key` in `section` to `value` (written as given), creating the file, the
// section or the key when missing. The whole file is replaced atomically and
// keeps its permissions; a failed write leaves it exactly as it was. Names that
// would corrupt the file (empty, "[", "]", "=", a leading ";", a line break)
// and values with a line break are refused.
WriteResult writeValue(const QString& path, QByteArrayView section, QByteArrayView key,
                       QByteArrayView value);

// Text conveniences over the byte API: UTF-8 in and out.
std::optional<QString> readString(const QString& path, const QString& section, const QString& key);
WriteResult writeString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

// One parse of one file, for reading many values without checking the file
// again for each: every value comes from the file as it was when readFile()
// ran. Cheap to copy; copies share the parse. Empty (every value missing) when
// the file could not be read.
class ParsedFile
{
public:
    ParsedFile() = default;
    explicit ParsedFile(std::shared_ptr<const syntax::Index> index);

    // True when the file was read (it may still hold no values).
    bool isValid() const { return m_index != nullptr; }
    // As readValue(): names trimmed and matched without regard to ASCII case.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;

private:
    std::shared_ptr<const syntax::Index> m_index;
};

// The file at `path` through the same cache readValue() uses: a fresh parse
// when the file changed or was never read, else the cached one.
ParsedFile readFile(const QString& path);

// Drops every cached parse (tests use it to prove a cold read works).
void clearCache();

} // namespace profile
