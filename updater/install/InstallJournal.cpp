#include "InstallJournal.h"

#include "Manifest.h"
#include "RecordFile.h"
#include "StagedFiles.h"
#include "UpdateRules.h"

#include <QSet>

#include <cerrno>
#include <vector>

using namespace Qt::StringLiterals;

namespace installjournal {

namespace {

constexpr QByteArrayView Header = "quorvane-install-journal 1";
constexpr qint64 MaxJournalBytes = 64 * 1024 * 1024;
constexpr qint64 MaxManifestBytes = 256 * 1024 * 1024;
constexpr QStringView ManifestName = u"info.ini";

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
// any line was refused: then the journal is void.
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
    for (const recordfile::Row& row : std::as_const(parsed.rows)) {
        bool ok = false;
        Entry entry{QString::fromUtf8(row.fields.at(1)), QString::fromUtf8(row.fields.at(2)),
                    row.fields.at(0).toLongLong(&ok)};
        if (!ok || entry.size < 0)
            parsed.refused.append(u"line %1: the size is not a count of bytes"_s.arg(row.line));
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

QString folderOf(const QString& relative)
{
    const qsizetype slash = relative.lastIndexOf(u'/');
    return slash < 0 ? QString() : relative.left(slash);
}

QString entryProblem(const Entry& entry)
{
    if (!isSafeRelative(entry.part) || !isSafeRelative(entry.target))
        return u"a path leaves the game folder"_s;
    if (!StagedFiles::isPartName(entry.part.mid(entry.part.lastIndexOf(u'/') + 1)))
        return u"%1 is not a part file"_s.arg(entry.part);
    if (folderOf(entry.part).toCaseFolded() != folderOf(entry.target).toCaseFolded())
        return u"%1 is not beside its target"_s.arg(entry.part);
    return {};
}

bool isManifest(const Entry& entry)
{
    return entry.target == ManifestName;
}

// The manifest the journal was written for: its part, or info.ini once in
// place. A journal of single files (no manifest of its own) answers to the
// installed one.
std::optional<QByteArray> manifestOf(const GameDir& root, const Entry& last)
{
    if (!isManifest(last))
        return root.readFile(ManifestName.toString(), MaxManifestBytes).value_or(QByteArray());
    for (const QString& name : {last.part, ManifestName.toString()}) {
        const Place place = placeOf(root, name);
        if (regularFileSize(place) == last.size)
            return place.folder->readFile(place.name, MaxManifestBytes);
    }
    return std::nullopt;
}

// Removes the journal, noting when it cannot.
void removeNoting(const GameDir& root, QStringList* notes)
{
    if (const Result removed = remove(root); !removed)
        note(notes, removed.reason);
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
    removeNoting(root, notes);
    return Recovery::RolledBack;
}

} // namespace

QString problemOf(const QList<Entry>& entries, const std::optional<QByteArray>& manifest)
{
    if (entries.isEmpty())
        return u"no entries"_s;
    const qsizetype files = entries.size() - (isManifest(entries.constLast()) ? 1 : 0);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (const QString why = entryProblem(entries.at(i)); !why.isEmpty())
            return why;
        if (i < files && entries.at(i).target.compare(ManifestName, Qt::CaseInsensitive) == 0)
            return u"info.ini is not the last target"_s;
    }
    if (!manifest)
        return {};
    const Manifest parsed = Manifest::parse(*manifest);
    QSet<QString> listed;
    for (const ManifestEntry& e : parsed.entries(parsed.entryCount().value_or(0)))
        listed.insert(updaterules::fileKey(e.FilePath, e.FileName));
    for (qsizetype i = 0; i < files; ++i) {
        if (!listed.contains(updaterules::fileKey(QString(), entries.at(i).target)))
            return u"%1 is not an entry of its manifest"_s.arg(entries.at(i).target);
    }
    return {};
}

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
    QString problem = malformed ? u"not a journal"_s : problemOf(*entries, std::nullopt);
    if (problem.isEmpty())
        problem = problemOf(*entries, manifestOf(root, entries->constLast()));
    if (!problem.isEmpty()) {
        note(notes, u"install journal ignored: "_s + problem);
        removeNoting(root, notes);
        return Recovery::Ignored;
    }
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
    removeNoting(root, notes);
    return Recovery::Completed;
}

} // namespace installjournal
