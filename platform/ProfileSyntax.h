#pragma once

// The byte-level grammar of profile files, without any file access: parsing
// into a lookup index and computing the bytes of a file after one write.
// ProfileFile.h is the interface programs use; this one exists for the engine,
// its tests and its fuzz targets.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace profile::syntax {

// Space, tab, vertical tab and form feed.
bool isBlank(char c);
QByteArrayView trimmed(QByteArrayView text);

// A caller's or the file's section or key name as it is matched: trimmed,
// ASCII letters in lower case.
QByteArray foldName(QByteArrayView name);

// A trimmed value without one outer pair of matching quotes.
QByteArrayView unquoted(QByteArrayView value);

// What a line (without its line end) is.
struct LineInfo
{
    enum class Kind
    {
        Blank,
        Comment,
        Header,
        Entry,
        Other
    };
    Kind kind = Kind::Blank;
    QByteArrayView name;  // section name of a header, key of an entry (trimmed)
    QByteArrayView value; // value of an entry, trimmed and unquoted
};
LineInfo classify(QByteArrayView line);

// First section, first key: the lookup a read needs.
class Index
{
public:
    static Index parse(QByteArrayView file);
    // Both names already folded.
    std::optional<QByteArray> find(const QByteArray& section, const QByteArray& key) const;

private:
    QHash<QByteArray, qsizetype> m_sectionSlots;
    std::vector<QHash<QByteArray, QByteArray>> m_sections;
};

// Empty when the entry may be written, else why it is refused.
QString checkEntry(QByteArrayView section, QByteArrayView key, QByteArrayView value);

// The whole file after setting `key` in `section` to `value`. The entry must
// have passed checkEntry.
QByteArray withValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                     QByteArrayView value);

} // namespace profile::syntax
