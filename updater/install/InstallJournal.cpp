#include "InstallJournal.h"

#include "Manifest.h"
#include "StagedFiles.h"
#include "UpdateRules.h"

#include <QSet>

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

std::optional<QList<Entry>> read(const GameDir& root, bool* malformed)
{
    const std::optional<QByteArray> bytes = root.readFile(FileName.toString(), MaxJournalBytes);
    if (!bytes)
        return std::nullopt;
    const QList<QByteArray> lines = bytes->split('\n');
    QList<Entry> entries;
    *malformed = lines.isEmpty() || lines.front() != Header;
    for (qsizetype i = 1; i < lines.size() && !*malformed; ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const QList<QByteArray> fields = lines.at(i).split('\t');
        bool ok = false;
        Entry entry;
        if (fields.size() == 3) {
            entry.size = fields.at(0).toLongLong(&ok);
            entry.part = QString::fromUtf8(fields.at(1));
            entry.target = QString::fromUtf8(fields.at(2));
        }
        *malformed = !ok || !isSafeRelative(entry.part) || !isSafeRelative(entry.target);
        entries.append(entry);
    }
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

bool write(const GameDir& root, const QList<Entry>& entries, QString* error)
{
    QByteArray text = Header.toByteArray() + '\n';
    for (const Entry& entry : entries)
        text += QByteArray::number(entry.size) + '\t' + entry.part.toUtf8() + '\t' +
                entry.target.toUtf8() + '\n';
    return root.writeFileAtomically(FileName.toString(), text, error) && root.sync();
}

void remove(const GameDir& root)
{
    if (root.kindOf(FileName.toString()) != GameDir::Kind::Missing) {
        root.removeFile(FileName.toString());
        root.sync();
    }
}

Recovery recover(const GameDir& root, QString* why)
{
    bool malformed = false;
    const std::optional<QList<Entry>> entries = read(root, &malformed);
    if (!entries) {
        if (root.kindOf(FileName.toString()) == GameDir::Kind::Missing)
            return Recovery::Nothing;
        // There but unreadable (a link, too large): nothing in it can be trusted.
        remove(root);
        return Recovery::RolledBack;
    }
    QString problem = malformed ? u"not a journal"_s : problemOf(*entries, std::nullopt);
    if (problem.isEmpty())
        problem = problemOf(*entries, manifestOf(root, entries->constLast()));
    if (!problem.isEmpty()) {
        if (why)
            *why = problem;
        remove(root);
        return Recovery::Ignored;
    }
    std::vector<std::pair<Place, QString>> pending; // the part's place and its target's name
    bool missing = false;
    for (const Entry& entry : *entries) {
        Place part = placeOf(root, entry.part);
        const Place target = placeOf(root, entry.target);
        if (regularFileSize(part) == entry.size)
            pending.emplace_back(std::move(part), target.name);
        else if (regularFileSize(target) != entry.size)
            missing = true; // neither waiting nor in place: lost
    }
    if (missing) {
        for (const Entry& entry : *entries) {
            const Place part = placeOf(root, entry.part);
            if (part.folder && part.folder->kindOf(part.name) == GameDir::Kind::File)
                part.folder->removeFile(part.name);
        }
        remove(root);
        return Recovery::RolledBack;
    }
    for (const auto& [part, target] : pending) {
        part.folder->rename(part.name, target);
        part.folder->sync();
    }
    remove(root);
    return Recovery::Completed;
}

} // namespace installjournal
