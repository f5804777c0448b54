#pragma once

#include "GameDir.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The game files of one run. Each is written to a part file beside its target
// and closed unsynced; only when the whole set has arrived is it made durable
// in one batch, recorded in the install journal and renamed into place, so a
// failed, stopped or crashed update never leaves a mix of old and new files.
// Every folder is reached through the game folder's handle without following
// links, so nothing outside the game folder is ever created, replaced or
// removed; a target that is a link is replaced as a link.
class StagedFiles
{
public:
    // Makes the listed part files durable; the paths that failed, empty when all did.
    using SyncStep = std::function<QStringList(const QStringList& paths)>;

    // `sync` is for tests that watch when files are made durable; empty
    // syncs them in one batch (FileSync.h).
    explicit StagedFiles(const GameDir& root, SyncStep sync = {})
        : m_root(root), m_sync(std::move(sync))
    {}
    ~StagedFiles() { discard(); }
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // True for the names part files get (".qvpart-" and eight letters or
    // digits, whatever the target's name), and for those of earlier versions
    // (".<name>.part-" and six).
    static bool isPartName(QStringView name);
    // A fresh name of that kind.
    static QString newPartName() { return PartPrefix + randomSuffix(); }

    // A part file and the file it will replace.
    struct Part
    {
        std::unique_ptr<QFile> file;
        std::shared_ptr<GameDir> folder;
        QString folderPath; // relative to the game folder, "" for itself
        QString name;       // of the part file in `folder`
        QString target;     // name of the target in `folder`
    };

    // A new, empty part file for `fileName` in the folder `folders` names
    // (made as needed; the names made are added to `created`), open for
    // writing. No file, with a reason, when a folder is a link or cannot be
    // made, or a folder stands in the target's place.
    Part createPart(const QStringList& folders, const QString& fileName, QStringList* created,
                    QString* error);

    // Takes a part file whose body is complete. A later file for the same
    // target replaces an earlier one. `folders` (relative) were made for it
    // and go again if the run is not installed.
    void add(Part part, const QString& localName, const QStringList& folders);

    qsizetype count() const { return qsizetype(m_parts.size()); }

    // A part file ("folder/name", relative) kept for resuming: never swept.
    void spare(const QString& relativePart) { m_ownNames.insert(relativePart); }

    // The manifest to install with the files, as info.ini, after all of them.
    bool stageManifest(const QByteArray& bytes);

    // Makes every part file durable, records the set in the install journal
    // and renames each part over its target, the manifest last. Returns the
    // local names that could not be written; when the set cannot be made
    // durable, or a folder has taken a target's place, no target is touched.
    // `stop` (the player quit) is asked until the journal is written: then
    // no target is touched and the parts stay in the set for its owner to
    // remove or abandon. Once the journal is written the renames are quick
    // and always finish.
    QStringList install(const std::function<bool()>& stop = {});

    // Why the last install() failed: one line per failure, with its cause.
    const QStringList& failureCauses() const { return m_causes; }

    // Removes every part file and the (still empty) folders made for them.
    void discard();

    // As discard(), but part files larger than `largerThan` are only
    // forgotten: removing a large file can take a second, and the next start
    // sweeps part files before anything else.
    void abandon(qint64 largerThan);

    // Removes every part file below `root` that is not in `spare` ("folder/name"):
    // what a killed run left. Folders that are links are not entered.
    static void sweepTree(const GameDir& root, const QSet<QString>& spare);

    // Removes the folders in `created` (relative) that are still empty, last made first.
    static void removeFolders(const GameDir& root, const QStringList& created);

private:
    struct Staged
    {
        std::shared_ptr<GameDir> folder;
        QString folderPath;
        QString name;
        QString target;
        QString localName;
        qint64 size = 0;
    };

    static QString randomSuffix();
    static constexpr QStringView PartPrefix = u".qvpart-";
    std::shared_ptr<GameDir> folderFor(const QStringList& segments, QStringList* created,
                                       QString* error);
    void sweep(const GameDir& folder) const;
    QString relativeOf(const GameDir& folder) const;
    Result writeJournal() const;
    // Syncs the parts and the manifest, each through its folder's handle.
    QStringList syncParts(const std::function<bool()>& stop) const;
    bool renameAll(QStringList& failed);
    void forget();

    const GameDir& m_root;
    SyncStep m_sync;
    QStringList m_causes;
    std::vector<Staged> m_parts;
    std::optional<Staged> m_manifest;
    QHash<QString, size_t> m_byTarget; // where each target's part sits in m_parts
    QStringList m_folders;             // made for the parts, in the order they were made
    QSet<QString> m_swept;             // folders (relative) cleared of stale part files
    QSet<QString> m_ownNames;          // "folder/name" of the part files this run made
};
