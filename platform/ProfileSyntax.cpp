#include "ProfileSyntax.h"

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace profile::syntax {

namespace {

constexpr QByteArrayView utf8Bom("\xEF\xBB\xBF");

// One line of the file: [begin, end) is its text, [end, next) its line end.
struct Line
{
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;

    bool hasLineEnd() const { return next > end; }
};

// Calls `visit(Line)` for every line of `file` from `start`; stops early when
// it returns false. CR, LF and CRLF each end a line.
template <typename Visit> void forEachLine(QByteArrayView file, qsizetype start, Visit&& visit)
{
    const char* data = file.data();
    const qsizetype size = file.size();
    qsizetype pos = start;
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && data[end] != '\r' && data[end] != '\n')
            ++end;
        qsizetype next = end;
        if (next < size) {
            if (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n')
                next += 2;
            else
                next += 1;
        }
        if (!visit(Line{pos, end, next}))
            return;
        pos = next;
    }
}

qsizetype bomLength(QByteArrayView file)
{
    return file.startsWith(utf8Bom) ? utf8Bom.size() : 0;
}

// The file's own line end, from its first one; CRLF when it has none.
QByteArrayView lineEndStyle(QByteArrayView file)
{
    for (qsizetype i = 0; i < file.size(); ++i) {
        if (file[i] == '\n')
            return "\n";
        if (file[i] == '\r')
            return (i + 1 < file.size() && file[i + 1] == '\n') ? QByteArrayView("\r\n")
                                                                : QByteArrayView("\r");
    }
    return "\r\n";
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

QString nameRefusal(QByteArrayView name, QStringView what)
{
    const QByteArrayView t = trimmed(name);
    const QString shown = QString::fromUtf8(name);
    if (name.contains('\r') || name.contains('\n'))
        return u"Refused %1 name \"%2\": it contains a line break"_s.arg(what, shown.simplified());
    if (t.isEmpty())
        return u"Refused %1 name: it is empty"_s.arg(what);
    if (t.contains('[') || t.contains(']') || t.contains('='))
        return u"Refused %1 name \"%2\": it contains \"[\", \"]\" or \"=\""_s.arg(what, shown);
    if (t.startsWith(';'))
        return u"Refused %1 name \"%2\": it starts with \";\""_s.arg(what, shown);
    return {};
}

} // namespace

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QByteArray foldName(QByteArrayView name)
{
    const QByteArrayView t = trimmed(name);
    QByteArray folded(t.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < t.size(); ++i)
        folded[i] = asciiLower(t[i]);
    return folded;
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.sliced(1, value.size() - 2);
    }
    return value;
}

LineInfo classify(QByteArrayView line)
{
    qsizetype first = 0;
    while (first < line.size() && isBlank(line[first]))
        ++first;
    if (first == line.size())
        return {};
    if (line[first] == '[') {
        QByteArrayView rest = line.sliced(first + 1);
        if (const qsizetype close = rest.indexOf(']'); close >= 0)
            rest = rest.first(close);
        return {LineInfo::Kind::Header, trimmed(rest), {}};
    }
    if (line[first] == ';')
        return {LineInfo::Kind::Comment, {}, {}};
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return {LineInfo::Kind::Other, {}, {}};
    return {LineInfo::Kind::Entry, trimmed(line.first(eq)), unquoted(trimmed(line.sliced(eq + 1)))};
}

namespace {

quint32 nameHash(QByteArrayView name)
{
    quint32 h = 2166136261u; // FNV-1a over the folded name
    for (const char c : name) {
        h ^= quint8(asciiLower(c));
        h *= 16777619u;
    }
    return h;
}

quint32 entryHash(quint32 section, QByteArrayView key)
{
    quint32 h = nameHash(key) ^ (section * 0x9E3779B1u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

} // namespace

Index::Span Index::span(QByteArrayView file, QByteArrayView part)
{
    return {quint32(part.data() - file.data()), quint32(part.size())};
}

Index Index::parse(const QByteArray& file)
{
    Index index;
    if (quint64(file.size()) > std::numeric_limits<quint32>::max())
        return index;
    index.m_bytes = file;
    const QByteArrayView bytes(index.m_bytes);
    // Sized from the line count up front: growing tables of a large manifest
    // costs more than the parse itself.
    const size_t lines = size_t(std::max(bytes.count('\n'), bytes.count('\r'))) + 1;
    index.m_entries.reserve(lines);
    reserveSlots(index.m_entrySlots, lines);

    // Entries are added in small batches whose table slots are fetched ahead:
    // in a large manifest nearly every slot is a cache miss, and waiting for
    // them one by one dominates the parse. Order within a batch is kept, so
    // the first of two equal keys still wins.
    struct Pending
    {
        quint32 section;
        quint32 hash;
        QByteArrayView key;
        QByteArrayView value;
    };
    constexpr size_t batchSize = 16;
    Pending batch[batchSize];
    size_t pending = 0;
    const auto flush = [&] {
        reserveSlots(index.m_entrySlots, index.m_entries.size() + pending);
        const size_t mask = index.m_entrySlots.size() - 1;
#if defined(__GNUC__) || defined(__clang__)
        for (size_t i = 0; i < pending; ++i)
            __builtin_prefetch(&index.m_entrySlots[batch[i].hash & mask]);
#else
        Q_UNUSED(mask);
#endif
        for (size_t i = 0; i < pending; ++i) {
            const Pending& p = batch[i];
            if (index.findEntry(p.section, p.key, p.hash) >= 0)
                continue;
            insertSlot(index.m_entrySlots, p.hash, qint32(index.m_entries.size()));
            index.m_entries.push_back({p.section, span(bytes, p.key), span(bytes, p.value)});
        }
        pending = 0;
    };

    // Entries before the first header, and every entry of a repeated section,
    // belong nowhere.
    qint64 current = -1;
    forEachLine(bytes, bomLength(bytes), [&](const Line& line) {
        const QByteArrayView text = bytes.sliced(line.begin, line.end - line.begin);
        const LineInfo info = classify(text);
        if (info.kind == LineInfo::Kind::Header) {
            const quint32 hash = nameHash(info.name);
            if (index.findSection(info.name, hash) >= 0) {
                current = -1;
            } else {
                current = qint64(index.m_sections.size());
                reserveSlots(index.m_sectionSlots, index.m_sections.size() + 1);
                insertSlot(index.m_sectionSlots, hash, qint32(current));
                index.m_sections.push_back({hash, span(bytes, info.name)});
            }
        } else if (info.kind == LineInfo::Kind::Entry && current >= 0 && !info.name.isEmpty()) {
            const auto section = quint32(current);
            batch[pending++] = {section, entryHash(section, info.name), info.name, info.value};
            if (pending == batchSize)
                flush();
        }
        return true;
    });
    flush();
    return index;
}

void Index::reserveSlots(std::vector<Slot>& table, size_t count)
{
    // At most half full keeps probe runs short.
    if (count * 2 <= table.size())
        return;
    size_t size = 16;
    while (size < count * 2)
        size *= 2;
    std::vector<Slot> old(size);
    old.swap(table);
    for (const Slot& slot : old) {
        if (slot.item >= 0)
            insertSlot(table, slot.hash, slot.item);
    }
}

void Index::insertSlot(std::vector<Slot>& table, quint32 hash, qint32 item)
{
    const size_t mask = table.size() - 1;
    size_t i = hash & mask;
    while (table[i].item >= 0)
        i = (i + 1) & mask;
    table[i] = {hash, item};
}

qint32 Index::findSection(QByteArrayView name, quint32 hash) const
{
    if (m_sectionSlots.empty())
        return -1;
    const size_t mask = m_sectionSlots.size() - 1;
    for (size_t i = hash & mask; m_sectionSlots[i].item >= 0; i = (i + 1) & mask) {
        const Slot& slot = m_sectionSlots[i];
        if (slot.hash == hash && sameName(view(m_sections[size_t(slot.item)].name), name))
            return slot.item;
    }
    return -1;
}

qint32 Index::findEntry(quint32 section, QByteArrayView key, quint32 hash) const
{
    if (m_entrySlots.empty())
        return -1;
    const size_t mask = m_entrySlots.size() - 1;
    for (size_t i = hash & mask; m_entrySlots[i].item >= 0; i = (i + 1) & mask) {
        const Slot& slot = m_entrySlots[i];
        if (slot.hash != hash)
            continue;
        const Entry& e = m_entries[size_t(slot.item)];
        if (e.section == section && sameName(view(e.key), key))
            return slot.item;
    }
    return -1;
}

std::optional<QByteArray> Index::find(QByteArrayView section, QByteArrayView key) const
{
    const QByteArrayView sectionName = trimmed(section);
    const QByteArrayView keyName = trimmed(key);
    if (sectionName.isEmpty() || keyName.isEmpty())
        return std::nullopt;
    const qint32 s = findSection(sectionName, nameHash(sectionName));
    if (s < 0)
        return std::nullopt;
    // Only the first entry of each key is kept, so any entry that matches is
    // the one to return.
    qint32 e = m_hint.next.load(std::memory_order_relaxed);
    if (e < 0 || size_t(e) >= m_entries.size() || m_entries[size_t(e)].section != quint32(s) ||
        !sameName(view(m_entries[size_t(e)].key), keyName))
        e = findEntry(quint32(s), keyName, entryHash(quint32(s), keyName));
    if (e < 0)
        return std::nullopt;
    m_hint.next.store(e + 1, std::memory_order_relaxed);
    return view(m_entries[size_t(e)].value).toByteArray();
}

QString checkEntry(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    if (QString why = nameRefusal(section, u"section"); !why.isEmpty())
        return why;
    if (QString why = nameRefusal(key, u"key"); !why.isEmpty())
        return why;
    if (value.contains('\r') || value.contains('\n'))
        return u"Refused value for key \"%1\": it contains a line break"_s.arg(
            QString::fromUtf8(trimmed(key)));
    return {};
}

QByteArray withValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                     QByteArrayView value)
{
    const QByteArrayView sectionName = trimmed(section);
    const QByteArrayView keyName = trimmed(key);
    const QByteArray wantedSection = foldName(sectionName);
    const QByteArray wantedKey = foldName(keyName);
    const qsizetype bom = bomLength(file);
    const QByteArrayView eol = lineEndStyle(file.sliced(bom));

    const auto newEntry = [&](QByteArray& out) {
        out.append(keyName).append('=').append(value).append(eol);
    };
    const auto newSection = [&](QByteArray& out) {
        out.append('[').append(sectionName).append(']').append(eol);
        newEntry(out);
    };

    if (file.size() == bom) {
        QByteArray out = file.toByteArray();
        newSection(out);
        return out;
    }

    bool found = false;
    Line anchor;  // header of the section, later its last entry line
    Line replace; // the line of the key, when it exists
    bool hasKey = false;
    forEachLine(file, bom, [&](const Line& line) {
        const LineInfo info = classify(file.sliced(line.begin, line.end - line.begin));
        if (info.kind == LineInfo::Kind::Header) {
            if (found)
                return false;
            if (foldName(info.name) == wantedSection) {
                found = true;
                anchor = line;
            }
        } else if (found && info.kind == LineInfo::Kind::Entry) {
            if (foldName(info.name) == wantedKey) {
                replace = line;
                hasKey = true;
                return false;
            }
            anchor = line;
        }
        return true;
    });

    QByteArray out;
    out.reserve(file.size() + keyName.size() + sectionName.size() + value.size() + 8);
    if (hasKey) {
        // The key keeps the spelling it has in the file.
        const LineInfo info = classify(file.sliced(replace.begin, replace.end - replace.begin));
        out.append(file.first(replace.begin)).append(info.name).append('=').append(value);
        if (replace.hasLineEnd())
            out.append(file.sliced(replace.end));
        else
            out.append(eol);
        return out;
    }
    if (found) {
        if (anchor.hasLineEnd()) {
            out.append(file.first(anchor.next));
            newEntry(out);
            out.append(file.sliced(anchor.next));
        } else {
            out.append(file).append(eol);
            newEntry(out);
        }
        return out;
    }
    out.append(file);
    if (!file.endsWith('\r') && !file.endsWith('\n'))
        out.append(eol);
    newSection(out);
    return out;
}

} // namespace profile::syntax
