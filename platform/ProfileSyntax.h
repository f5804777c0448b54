#pragma once

// The byte-level grammar of profile files, without any file access: parsing
// into a lookup index and computing the bytes of a file after one write.
// ProfileFile.h is the interface programs use; this one exists for the engine,
// its tests and its fuzz targets.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <atomic>
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

// First section, first key: the lookup a read needs. Holds the file's bytes
// and flat tables of offsets into them, so parsing allocates little and a
// lookup allocates nothing but its result.
class Index
{
public:
    // Files of 4 GiB or more are not profile files: they read as empty.
    static Index parse(const QByteArray& file);
    // Names as callers pass them: trimmed and folded here.
    std::optional<QByteArray> find(QByteArrayView section, QByteArrayView key) const;

private:
    // 32-bit offsets keep a large manifest's tables small enough to stay
    // cache-friendly.
    struct Span
    {
        quint32 pos = 0;
        quint32 size = 0;
    };
    struct Entry
    {
        quint32 section = 0;
        Span key;
        Span value;
    };
    struct Section
    {
        quint32 hash = 0;
        Span name;
    };

    static Span span(QByteArrayView file, QByteArrayView part);
    QByteArrayView view(Span s) const { return QByteArrayView(m_bytes).sliced(s.pos, s.size); }
    qint32 findSection(QByteArrayView name, quint32 hash) const;
    qint32 findEntry(quint32 section, QByteArrayView key, quint32 hash) const;

    // Open addressing with linear probing; the hash sits in the slot so a
    // probe past another name costs no visit to the entry.
    struct Slot
    {
        quint32 hash = 0;
        qint32 item = -1;
    };
    static void reserveSlots(std::vector<Slot>& table, size_t count);
    static void insertSlot(std::vector<Slot>& table, quint32 hash, qint32 item);

    // Where the entry after the last one found sits: callers mostly read a
    // file's keys in the order they stand, and checking that entry first
    // spares a random probe into a large table.
    struct Hint
    {
        std::atomic<qint32> next{-1};
        Hint() = default;
        Hint(Hint&&) noexcept {}
        Hint& operator=(Hint&&) noexcept
        {
            next.store(-1, std::memory_order_relaxed);
            return *this;
        }
    };

    QByteArray m_bytes;
    mutable Hint m_hint;
    std::vector<Section> m_sections;
    std::vector<Slot> m_sectionSlots;
    std::vector<Entry> m_entries;
    std::vector<Slot> m_entrySlots;
};

// Empty when the entry may be written, else why it is refused.
QString checkEntry(QByteArrayView section, QByteArrayView key, QByteArrayView value);

// The whole file after setting `key` in `section` to `value`. The entry must
// have passed checkEntry.
QByteArray withValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                     QByteArrayView value);

} // namespace profile::syntax
