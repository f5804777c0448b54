#pragma once

// Portable profile files ("[Section]" headers and "Key=Value" lines), read and
// written with the behaviour the game's own profile functions show. Files are
// handled as bytes, so lines a write does not touch stay byte for byte; text
// crosses in the file's own encoding (ProfileText.h).

#include "ProfileText.h"
#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class GameDir;
class QSaveFile;

namespace profile {

namespace syntax {
class Index;
}

// Outcome of a write: ok, or a reason a person can read.
using WriteResult = ::Result;

// The value of `key` in `section` of the file at `path`, or nothing when the
// file, the section or the key is missing. Names are trimmed and matched
// without regard to ASCII letter case. Never creates a file. Each call reads
// and parses the file afresh; ParseCache serves many reads from one parse.
std::optional<QByteArray> readValue(const QString& path, QByteArrayView section,
                                    QByteArrayView key);

// Sets `key` in `section` to `value` (written as given), creating the file, the
// section or the key when missing. The whole file is replaced atomically and
// keeps its permissions; a failed write leaves it exactly as it was. Names that
// would corrupt the file (empty, "[", "]", "=", a leading ";", a line break)
// and values with a line break are refused.
WriteResult writeValue(const QString& path, QByteArrayView section, QByteArrayView key,
                       QByteArrayView value);

// The last step of a save: the finished temporary file takes the place of
// the old one. Returns why that failed, or an empty string; after a failure
// the temporary file is discarded and the old file stays. Empty means
// QSaveFile's own commit; tests pass a step that fails.
using ReplaceStep = std::function<QString(QSaveFile& finished)>;

// The step used when none is given: QSaveFile's own commit.
QString standardReplace(QSaveFile& finished);

// Text over the byte API, in the file's own encoding: names and values are
// converted with it, and a text the encoding cannot hold is a failed write.
std::optional<QString> readString(const QString& path, const QString& section, const QString& key);
WriteResult writeString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

// One value of a batch write.
struct Entry
{
    QString section;
    QString key;
    QString value;
};

// Sets every entry, in order, with one read of the file and one replacement:
// all are written or, when any of them is refused or the save fails, none.
WriteResult writeStrings(const QString& path, const QList<Entry>& entries,
                         const ReplaceStep& replace = {});

// One parse of one file, for reading many values without checking the file
// again for each: every value comes from the file as it was when readFile()
// ran. Cheap to copy; copies share the parse. Empty (every value missing) when
// the file could not be read.
class ParsedFile
{
public:
    ParsedFile() = default;
    explicit ParsedFile(std::shared_ptr<const syntax::Index> index,
                        Encoding encoding = Encoding::Utf8);

    // True when the file was read (it may still hold no values).
    bool isValid() const { return m_index != nullptr; }
    // As readValue(): names trimmed and matched without regard to ASCII case.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;
    // As readString(): the value decoded from the file's encoding.
    std::optional<QString> text(const QString& section, const QString& key) const;
    Encoding encoding() const { return m_encoding; }

private:
    std::shared_ptr<const syntax::Index> m_index;
    Encoding m_encoding = Encoding::Utf8;
};

// One parse of the file at `path` as it is now.
ParsedFile readFile(const QString& path);
// One parse of the bytes of a file.
ParsedFile parseBytes(const QByteArray& bytes);
// One parse of `name` in `folder`, read through the folder's handle (at most
// `maxBytes`, never through a link); empty when it cannot be read so.
ParsedFile readFile(const GameDir& folder, const QString& name, qint64 maxBytes);

// Parses of profile files kept for reading them many times: a file is parsed
// again only when its size or time stamps changed, so outside changes are
// seen. Its owner (a program, a test) holds it; safe to share between threads.
class ParseCache
{
public:
    ParseCache();
    ~ParseCache();
    ParseCache(const ParseCache&) = delete;
    ParseCache& operator=(const ParseCache&) = delete;

    // As the free functions of the same names, from the cached parse.
    ParsedFile readFile(const QString& path);
    std::optional<QByteArray> readValue(const QString& path, QByteArrayView section,
                                        QByteArrayView key);
    std::optional<QString> readString(const QString& path, const QString& section,
                                      const QString& key);
    // Drops every parse.
    void clear();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace profile
