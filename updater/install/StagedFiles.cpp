#include "StagedFiles.h"

#include "FileSync.h"
#include "InstallJournal.h"

#include <QRandomGenerator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int SuffixLength = 8;
constexpr QStringView OldPartMarker = u".part-";

bool isAlphanumeric(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

} // namespace

bool StagedFiles::isPartName(QStringView name)
{
    if (name.startsWith(PartPrefix))
        return name.size() == PartPrefix.size() + SuffixLength &&
               isAlphanumeric(name.last(SuffixLength));
    const qsizetype marker = name.lastIndexOf(OldPartMarker);
    return name.startsWith(u'.') && marker >= 2 &&
           name.size() - marker == OldPartMarker.size() + 6 && isAlphanumeric(name.last(6));
}

QString StagedFiles::randomSuffix()
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix(SuffixLength, Qt::Uninitialized);
    for (QChar& c : suffix)
        c = QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
    return suffix;
}

QString StagedFiles::relativeOf(const GameDir& folder) const
{
    // Every folder here was opened below the root, so its path extends the root's.
    const QString root = m_root.path();
    const QString path = folder.path();
    if (path.size() <= root.size() || !path.startsWith(root))
        return {};
    QString relative = path.sliced(root.size());
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    return relative;
}

std::shared_ptr<GameDir> StagedFiles::folderFor(const QStringList& segments, QStringList* created,
                                                QString* error)
{
    std::optional<GameDir> opened = m_root.openSub(segments, true, created, error);
    if (!opened)
        return nullptr;
    // Opened afresh each time: a folder removed and made again by another
    // file's failure must not be written through an old handle.
    auto folder = std::make_shared<GameDir>(std::move(*opened));
    if (!m_swept.contains(relativeOf(*folder))) {
        m_swept.insert(relativeOf(*folder));
        sweep(*folder);
    }
    return folder;
}

StagedFiles::Part StagedFiles::createPart(const QStringList& folders, const QString& fileName,
                                          QStringList* created, QString* error)
{
    Part part;
    part.folder = folderFor(folders, created, error);
    if (!part.folder)
        return part;
    part.folderPath = relativeOf(*part.folder);
    part.target = fileName;
    const GameDir::Kind kind = part.folder->kindOf(fileName);
    if (kind == GameDir::Kind::Folder) {
        *error = u"a folder has the name of "_s + fileName;
        return part;
    }
    // A file it replaces keeps its permissions.
    const std::optional<QFileDevice::Permissions> existing =
        kind == GameDir::Kind::File ? part.folder->permissionsOf(fileName) : std::nullopt;
    const QFileDevice::Permissions mode =
        existing.value_or(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::ReadOther);
    for (int attempt = 0; attempt < 16 && !part.file; ++attempt) {
        part.name = PartPrefix + randomSuffix();
        part.file = part.folder->createNew(part.name, mode, error);
    }
    if (part.file)
        m_ownNames.insert(joined(part.folderPath, part.name));
    return part;
}

void StagedFiles::add(Part part, const QString& localName, const QStringList& folders)
{
    Staged staged{part.folder, part.folderPath, part.name,
                  part.target, localName,       part.file->size()};
    part.file->close();
    const QString key = joined(part.folderPath, part.target).toCaseFolded();
    const auto earlier = m_byTarget.constFind(key);
    if (earlier != m_byTarget.cend()) {
        m_parts[*earlier].folder->removeFile(m_parts[*earlier].name);
        m_parts[*earlier] = std::move(staged);
    } else {
        m_byTarget.insert(key, m_parts.size());
        m_parts.push_back(std::move(staged));
    }
    m_folders.append(folders);
}

bool StagedFiles::stageManifest(const QByteArray& bytes)
{
    QString error;
    Part part = createPart({}, u"info.ini"_s, nullptr, &error);
    if (!part.file || part.file->write(bytes) != bytes.size()) {
        if (part.file)
            part.folder->removeFile(part.name);
        return false;
    }
    part.file->close();
    m_manifest =
        Staged{part.folder, part.folderPath, part.name, part.target, u"info.ini"_s, bytes.size()};
    return true;
}

Result StagedFiles::writeJournal() const
{
    QList<installjournal::Entry> entries;
    for (const Staged& p : m_parts)
        entries.append({joined(p.folderPath, p.name), joined(p.folderPath, p.target), p.size});
    if (m_manifest)
        entries.append({m_manifest->name, m_manifest->target, m_manifest->size});
    return installjournal::write(m_root, entries);
}

QStringList StagedFiles::syncParts(const std::function<bool()>& stop) const
{
    QList<filesync::SyncTarget> files;
    for (const Staged& part : m_parts)
        files.append({part.folder.get(), part.name});
    if (m_manifest)
        files.append({m_manifest->folder.get(), m_manifest->name});
    if (!m_sync)
        return filesync::syncInFolders(files, stop);
    QStringList paths;
    for (const filesync::SyncTarget& file : std::as_const(files))
        paths.append(file.folder->path() + u'/' + file.name);
    return m_sync(paths);
}

bool StagedFiles::renameAll(QStringList& failed)
{
    // Each part holds a handle of its own: one sync per folder, not per file.
    QHash<QString, GameDir*> touched;
    for (const Staged& part : m_parts) {
        QString error;
        if (!part.folder->rename(part.name, part.target, &error)) {
            // Another program holds the file (Windows): the rest still go in.
            part.folder->removeFile(part.name);
            failed.append(part.localName);
            m_causes.append(u"could not install "_s + error);
            continue;
        }
        touched.insert(part.folderPath, part.folder.get());
    }
    // Made this run: durable in their parents too, each parent synced once.
    QSet<QStringList> parents;
    for (const QString& made : std::as_const(m_folders)) {
        QStringList parent = made.split(u'/');
        parent.removeLast();
        parents.insert(parent);
    }
    for (const QStringList& parent : std::as_const(parents)) {
        if (auto dir = m_root.openSub(parent, false))
            dir->sync();
    }
    for (GameDir* folder : std::as_const(touched)) {
        if (!folder->sync()) {
            failed.append(folder->path());
            m_causes.append(u"%1: the folder could not be synced"_s.arg(folder->path()));
        }
    }
    return failed.isEmpty();
}

QStringList StagedFiles::install(const std::function<bool()>& stop)
{
    // Once told to stop, stopped for good.
    bool halted = false;
    const std::function<bool()> stopNow = [&] { return halted || (halted = stop && stop()); };
    m_causes.clear();
    QStringList failed;
    if (const QStringList unsynced = syncParts(stop ? stopNow : std::function<bool()>());
        !unsynced.isEmpty()) {
        failed.append(u"the downloaded files"_s);
        m_causes.append(u"could not sync "_s + unsynced.join(u", "_s));
    }
    for (const Staged& part : m_parts) {
        if (part.folder->kindOf(part.target) == GameDir::Kind::Folder) {
            failed.append(part.localName);
            m_causes.append(u"a folder stands where %1 belongs"_s.arg(part.localName));
        }
    }
    const bool stopped = stopNow();
    if (failed.isEmpty() && stopped)
        failed.append(u"the downloaded files"_s);
    if (failed.isEmpty()) {
        if (const Result journal = writeJournal(); !journal) {
            failed.append(installjournal::FileName.toString());
            m_causes.append(u"could not write the install journal: "_s + journal.reason);
        }
    }
    if (!failed.isEmpty()) {
        if (!stopped)
            discard();
        return failed;
    }
    // The manifest says the set is installed: only when all of it is.
    if (renameAll(failed) && m_manifest) {
        QString error;
        if (!m_root.rename(m_manifest->name, m_manifest->target, &error)) {
            failed.append(m_manifest->localName);
            m_causes.append(u"could not install "_s + error);
        } else if (!m_root.sync()) {
            failed.append(m_manifest->localName);
            m_causes.append(u"%1: the folder could not be synced"_s.arg(m_root.path()));
        }
    }
    if (m_manifest && !failed.isEmpty())
        m_root.removeFile(m_manifest->name);
    if (const Result removed = installjournal::remove(m_root); !removed)
        m_causes.append(removed.reason);
    forget();
    return failed;
}

void StagedFiles::forget()
{
    m_parts.clear();
    m_manifest.reset();
    m_byTarget.clear();
    m_folders.clear();
}

void StagedFiles::removeFolders(const GameDir& root, const QStringList& created)
{
    for (auto it = created.crbegin(); it != created.crend(); ++it) {
        QStringList segments = it->split(u'/');
        const QString last = segments.takeLast();
        if (auto parent = root.openSub(segments, false))
            parent->removeEmptyFolder(last); // only when empty: something may have moved in
    }
}

void StagedFiles::abandon(qint64 largerThan)
{
    std::erase_if(m_parts, [&](const Staged& part) { return part.size > largerThan; });
    discard();
}

void StagedFiles::discard()
{
    for (const Staged& part : m_parts)
        part.folder->removeFile(part.name);
    if (m_manifest)
        m_manifest->folder->removeFile(m_manifest->name);
    const QStringList folders = m_folders;
    forget();
    removeFolders(m_root, folders);
}

// Part files left by a run that crashed or lost its power. Ours are spared;
// links are removed as links.
void StagedFiles::sweep(const GameDir& folder) const
{
    const QString prefix = relativeOf(folder);
    for (const QString& name : folder.entries()) {
        if (isPartName(name) && !m_ownNames.contains(joined(prefix, name)) &&
            folder.kindOf(name) != GameDir::Kind::Folder)
            folder.removeFile(name);
    }
}

namespace {

void sweepBelow(const GameDir& folder, const QString& relative, const QSet<QString>& spare,
                int depth)
{
    for (const QString& name : folder.entries()) {
        const QString path = joined(relative, name);
        switch (folder.kindOf(name)) {
        case GameDir::Kind::Folder:
            if (depth < 64) {
                if (auto below = folder.openSub({name}, false))
                    sweepBelow(*below, path, spare, depth + 1);
            }
            break;
        case GameDir::Kind::File:
        case GameDir::Kind::Link:
            if ((StagedFiles::isPartName(name) || GameDir::isTemporaryName(name)) &&
                !spare.contains(path))
                folder.removeFile(name);
            break;
        default:
            break;
        }
    }
}

} // namespace

void StagedFiles::sweepTree(const GameDir& root, const QSet<QString>& spare)
{
    sweepBelow(root, QString(), spare, 0);
}
