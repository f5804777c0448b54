#include "InstallJournal.h"

#include "UpdateRules.h"

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

} // namespace

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

Recovery recover(const GameDir& root)
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
    std::vector<std::pair<Place, QString>> pending; // the part's place and its target's name
    bool missing = malformed;
    for (const Entry& entry : *entries) {
        if (malformed)
            break;
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
            if (isSafeRelative(entry.part) && part.folder &&
                part.folder->kindOf(part.name) == GameDir::Kind::File)
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
