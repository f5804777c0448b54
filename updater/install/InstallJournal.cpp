#include "InstallJournal.h"

#include "RecordFile.h"
#include "UpdateRules.h"

#include <cerrno>
#include <vector>

using namespace Qt::StringLiterals;

namespace installjournal {

namespace {

constexpr QByteArrayView Header = "quorvane-install-journal 1";
constexpr qint64 MaxJournalBytes = 64 * 1024 * 1024;

// A relative path the journal may name: inside the game folder, no climbing.
bool isSafeRelative(const QString& relative)
{
    if (relative.isEmpty() || relative.startsWith(u'/') || relative.contains(u'\\'))
        return false;
    return !updaterules::isUnsafeEntry(QString(), relative);
}

void note(QStringList* notes, const QString& line)
{
    if (notes)
        notes->append(line);
}

// The journal's entries; nothing when it cannot be read. `malformed` when
// any line was refused: then no entry is trusted.
std::optional<QList<Entry>> read(const GameDir& root, bool* malformed, QStringList* notes)
{
    QString error;
    const std::optional<QByteArray> bytes =
        root.readFile(FileName.toString(), MaxJournalBytes, &error);
    if (!bytes) {
        if (root.kindOf(FileName.toString()) != GameDir::Kind::Missing)
            note(notes, u"install journal unreadable: "_s + error);
        return std::nullopt;
    }
    recordfile::Parsed parsed = recordfile::parse(*bytes, Header, 3);
    QList<Entry> entries;
    for (const recordfile::Row& row : parsed.rows) {
        bool ok = false;
        Entry entry{QString::fromUtf8(row.fields.at(1)), QString::fromUtf8(row.fields.at(2)),
                    row.fields.at(0).toLongLong(&ok)};
        if (!ok || entry.size < 0)
            parsed.refused.append(u"line %1: the size is not a count of bytes"_s.arg(row.line));
        else if (!isSafeRelative(entry.part) || !isSafeRelative(entry.target))
            parsed.refused.append(u"line %1: a name outside the game folder"_s.arg(row.line));
        else
            entries.append(entry);
    }
    *malformed = !parsed.headerOk || !parsed.refused.isEmpty();
    for (const QString& why : std::as_const(parsed.refused))
        note(notes, u"install journal refused, "_s + why);
    return entries;
}

// The folder of a relative path and the name in it; reached without links.
struct Place
{
    std::optional<GameDir> folder;
    QString name;
};

Place placeOf(const GameDir& root, const QString& relative)
{
    QStringList segments = relative.split(u'/');
    Place place;
    place.name = segments.takeLast();
    place.folder = root.openSub(segments, false);
    return place;
}

qint64 regularFileSize(const Place& place)
{
    return place.folder ? place.folder->sizeOf(place.name) : -1;
}

// Removes the part files the journal names and then the journal.
Recovery rollBack(const GameDir& root, const QList<Entry>& entries, QStringList* notes)
{
    for (const Entry& entry : entries) {
        const Place part = placeOf(root, entry.part);
        if (part.folder && part.folder->kindOf(part.name) == GameDir::Kind::File &&
            !part.folder->removeFile(part.name))
            note(notes, u"could not remove the part file "_s + entry.part);
    }
    if (const Result removed = remove(root); !removed)
        note(notes, removed.reason);
    return Recovery::RolledBack;
}

} // namespace

Result write(const GameDir& root, const QList<Entry>& entries)
{
    QList<QList<QByteArray>> rows;
    for (const Entry& entry : entries)
        rows.append({QByteArray::number(entry.size), entry.part.toUtf8(), entry.target.toUtf8()});
    const std::optional<QByteArray> text = recordfile::render(Header, rows);
    if (!text)
        return Result::failure(u"a name holds a tab or a line break"_s);
    QString error;
    if (!root.writeFileAtomically(FileName.toString(), *text, &error))
        return Result::failure(error);
    if (!root.sync())
        return Result::failure(u"%1: the folder could not be synced"_s.arg(root.path()), errno);
    return Result::success();
}

Result remove(const GameDir& root)
{
    if (root.kindOf(FileName.toString()) == GameDir::Kind::Missing)
        return Result::success();
    if (!root.removeFile(FileName.toString()))
        return Result::failure(u"could not remove the install journal"_s, errno);
    root.sync();
    return Result::success();
}

Recovery recover(const GameDir& root, QStringList* notes)
{
    bool malformed = false;
    const std::optional<QList<Entry>> entries = read(root, &malformed, notes);
    if (!entries) {
        if (root.kindOf(FileName.toString()) == GameDir::Kind::Missing)
            return Recovery::Nothing;
        // There but unreadable (a link, too large): nothing in it can be trusted.
        return rollBack(root, {}, notes);
    }
    if (malformed)
        return rollBack(root, *entries, notes);
    std::vector<std::pair<Place, QString>> pending; // the part's place and its target's name
    for (const Entry& entry : *entries) {
        Place part = placeOf(root, entry.part);
        const Place target = placeOf(root, entry.target);
        if (regularFileSize(part) == entry.size) {
            pending.emplace_back(std::move(part), target.name);
        } else if (regularFileSize(target) != entry.size) {
            // Neither waiting nor in place: lost.
            note(notes, u"install journal: %1 is neither staged nor in place"_s.arg(entry.target));
            return rollBack(root, *entries, notes);
        }
    }
    for (const auto& [part, target] : pending) {
        QString error;
        if (!part.folder->rename(part.name, target, &error)) {
            // The rest stay staged and the journal stays: the next start tries again.
            note(notes, u"install journal: could not complete "_s + error);
            return Recovery::Incomplete;
        }
        if (!part.folder->sync())
            note(notes, u"%1: the folder could not be synced"_s.arg(part.folder->path()));
    }
    if (const Result removed = remove(root); !removed)
        note(notes, removed.reason);
    return Recovery::Completed;
}

} // namespace installjournal
