#include "ProfileFile.h"

#include "FileSnapshot.h"
#include "GameDir.h"
#include "ProfileSyntax.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>

#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace profile {

namespace {

using detail::Found;
using detail::Snapshot;

struct CachedFile
{
    Snapshot snapshot;
    std::shared_ptr<const syntax::Index> index;
    Encoding encoding = Encoding::Utf8;
};

// A few files are read over and over (the two manifests, the settings file);
// the bound only keeps a long run from collecting parses and open files.
constexpr qsizetype maxCachedFiles = 16;

bool isAbsolute(const QString& path)
{
#ifdef Q_OS_WIN
    // "C:/...", "C:\..." or a network path; QDir::isAbsolutePath would do, at
    // the price of a QFileInfo per read.
    if (path.size() >= 3 && path.at(1) == u':' && (path.at(2) == u'/' || path.at(2) == u'\\'))
        return true;
    return path.startsWith(u"//") || path.startsWith(u"\\\\");
#else
    return path.startsWith(u'/');
#endif
}

QString absolute(const QString& path)
{
    if (isAbsolute(path))
        return path;
    return QDir::cleanPath(QDir::currentPath() + u'/' + path);
}

QString describe(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// One entry as bytes of the file's encoding.
struct RawEntry
{
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

// Turns the caller's entries into bytes for a file of the given encoding;
// returns why it cannot, or an empty string.
using Prepare = std::function<QString(Encoding encoding, QList<RawEntry>& out)>;

} // namespace

QString standardReplace(QSaveFile& finished)
{
    return finished.commit() ? QString() : finished.errorString();
}

namespace {

// Writes `bytes` as the whole of `file` through a temporary file beside it.
WriteResult replaceFile(const QString& file, const QString& shownAs, const Snapshot& before,
                        const QByteArray& bytes, const ReplaceStep& replace)
{
    QSaveFile out(file);
    // Writing in place would lose the all-or-nothing guarantee.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return WriteResult::failure(
            u"Cannot create %1: %2"_s.arg(describe(shownAs), out.errorString()));
    if (before.found == Found::File) {
        // Keep the old mode even where the umask would narrow the new file's.
        const QFileDevice::Permissions mode = QFileInfo(file).permissions();
        if (mode != QFileDevice::Permissions())
            out.setPermissions(mode);
    }
    if (out.write(bytes) != bytes.size()) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return WriteResult::failure(u"Cannot write %1: %2"_s.arg(describe(shownAs), reason));
    }
    const QString failed = replace ? replace(out) : standardReplace(out);
    if (!failed.isEmpty())
        return WriteResult::failure(u"Cannot save %1: %2"_s.arg(describe(shownAs), failed));
    return WriteResult::success();
}

// One read of the file, every entry applied in order, one replacement.
WriteResult writeEntries(const QString& path, const Prepare& prepare, const ReplaceStep& replace)
{
    if (path.isEmpty())
        return WriteResult::failure(u"No file name given"_s);
    const QString file = absolute(path);
    const Snapshot before = Snapshot::load(file);
    switch (before.found) {
    case Found::File:
    case Found::Missing:
        break;
    case Found::NotRegular:
        return WriteResult::failure(u"Cannot write %1: Not a regular file"_s.arg(describe(path)));
    case Found::Unreadable:
        return WriteResult::failure(u"Cannot read %1: %2"_s.arg(describe(path), before.reason));
    }

    QList<RawEntry> entries;
    if (const QString why = prepare(encodingOf(before.bytes), entries); !why.isEmpty())
        return WriteResult::failure(u"Cannot write %1: %2"_s.arg(describe(path), why));
    QByteArray after = before.bytes;
    for (const RawEntry& e : std::as_const(entries)) {
        if (const QString refusal = syntax::checkEntry(e.section, e.key, e.value);
            !refusal.isEmpty())
            return WriteResult::failure(refusal);
        after = syntax::withValue(after, e.section, e.key, e.value);
    }

    return replaceFile(file, path, before, after, replace);
}

} // namespace

std::optional<QByteArray> readValue(const QString& path, QByteArrayView section, QByteArrayView key)
{
    return readFile(path).value(section, key);
}

ParsedFile::ParsedFile(std::shared_ptr<const syntax::Index> index, Encoding encoding)
    : m_index(std::move(index)), m_encoding(encoding)
{}

std::optional<QByteArray> ParsedFile::value(QByteArrayView section, QByteArrayView key) const
{
    if (!m_index)
        return std::nullopt;
    return m_index->find(section, key);
}

std::optional<QString> ParsedFile::text(const QString& section, const QString& key) const
{
    // A name the file's encoding cannot hold cannot stand in the file.
    const std::optional<QByteArray> s = encode(section, m_encoding);
    const std::optional<QByteArray> k = encode(key, m_encoding);
    if (!s || !k)
        return std::nullopt;
    const std::optional<QByteArray> raw = value(*s, *k);
    if (!raw)
        return std::nullopt;
    return decode(*raw, m_encoding);
}

ParsedFile readFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    const Snapshot snapshot = Snapshot::load(absolute(path));
    if (snapshot.found != Found::File)
        return {};
    return parseBytes(snapshot.bytes);
}

ParsedFile parseBytes(const QByteArray& bytes)
{
    return ParsedFile(std::make_shared<const syntax::Index>(syntax::Index::parse(bytes)),
                      encodingOf(bytes));
}

ParsedFile readFile(const GameDir& folder, const QString& name, qint64 maxBytes)
{
    const std::optional<QByteArray> bytes = folder.readFile(name, maxBytes);
    return bytes ? parseBytes(*bytes) : ParsedFile();
}

WriteResult writeValue(const QString& path, QByteArrayView section, QByteArrayView key,
                       QByteArrayView value)
{
    const auto asGiven = [&](Encoding, QList<RawEntry>& out) {
        out.append({section.toByteArray(), key.toByteArray(), value.toByteArray()});
        return QString();
    };
    return writeEntries(path, asGiven, {});
}

std::optional<QString> readString(const QString& path, const QString& section, const QString& key)
{
    return readFile(path).text(section, key);
}

WriteResult writeString(const QString& path, const QString& section, const QString& key,
                        const QString& value)
{
    return writeStrings(path, {{section, key, value}});
}

WriteResult writeStrings(const QString& path, const QList<Entry>& entries,
                         const ReplaceStep& replace)
{
    const auto encoded = [&](Encoding encoding, QList<RawEntry>& out) {
        const auto convert = [&](const QString& text, QByteArray& bytes, const QString& what) {
            std::optional<QByteArray> converted = encode(text, encoding);
            if (!converted)
                return u"%1 has characters that %2 cannot hold"_s.arg(what, encodingName(encoding));
            bytes = std::move(*converted);
            return QString();
        };
        for (const Entry& e : entries) {
            RawEntry raw;
            QString why =
                convert(e.section, raw.section, u"the section name \"%1\""_s.arg(e.section));
            if (why.isEmpty())
                why = convert(e.key, raw.key, u"the key name \"%1\""_s.arg(e.key));
            if (why.isEmpty())
                why = convert(e.value, raw.value, u"the value of \"%1\""_s.arg(e.key));
            if (!why.isEmpty())
                return why;
            out.append(std::move(raw));
        }
        return QString();
    };
    return writeEntries(path, encoded, replace);
}

struct ParseCache::Impl
{
    QMutex mutex;
    QHash<QString, std::shared_ptr<CachedFile>> files;

    void remember(const QString& key, Snapshot snapshot)
    {
        auto entry = std::make_shared<CachedFile>();
        entry->index = std::make_shared<const syntax::Index>(syntax::Index::parse(snapshot.bytes));
        entry->encoding = encodingOf(snapshot.bytes);
        entry->snapshot = std::move(snapshot);
        if (files.size() >= maxCachedFiles && !files.contains(key))
            files.erase(files.begin());
        files.insert(key, std::move(entry));
    }

    // The parse of `file` as it is now: the cached one when the file has not
    // changed, else a fresh one; null when the file cannot be read. The
    // caller holds the mutex.
    std::shared_ptr<const CachedFile> current(const QString& file)
    {
        const auto hit = files.constFind(file);
        if (hit != files.cend() && (*hit)->snapshot.unchanged(file))
            return *hit;
        Snapshot snapshot = Snapshot::load(file);
        if (snapshot.found != Found::File) {
            files.remove(file);
            return nullptr;
        }
        remember(file, std::move(snapshot));
        return files.value(file);
    }
};

ParseCache::ParseCache() : m_impl(std::make_unique<Impl>()) {}
ParseCache::~ParseCache() = default;

ParsedFile ParseCache::readFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    QMutexLocker lock(&m_impl->mutex);
    const auto entry = m_impl->current(absolute(path));
    return entry ? ParsedFile(entry->index, entry->encoding) : ParsedFile();
}

std::optional<QByteArray> ParseCache::readValue(const QString& path, QByteArrayView section,
                                                QByteArrayView key)
{
    return readFile(path).value(section, key);
}

std::optional<QString> ParseCache::readString(const QString& path, const QString& section,
                                              const QString& key)
{
    return readFile(path).text(section, key);
}

void ParseCache::clear()
{
    QMutexLocker lock(&m_impl->mutex);
    m_impl->files.clear();
}

} // namespace profile
