#pragma once

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// The game files of one run. Each is written to a part file beside its target
// and closed unsynced; only when the whole set has arrived is it made durable
// in one batch and renamed into place, so a failed, stopped or crashed update
// never leaves a mix of old and new files, and the disk is waited on once
// rather than once per file.
class StagedFiles
{
public:
    explicit StagedFiles(QString gameFolder) : m_gameFolder(std::move(gameFolder)) {}
    ~StagedFiles() { discard(); }
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // True for the names part files get (".qvpart-" and eight letters or
    // digits, whatever the target's name), and for those of earlier versions
    // (".<name>.part-" and six).
    static bool isPartName(QStringView name);

    // A part file and the file it will replace.
    struct Part
    {
        std::unique_ptr<QFile> file;
        QString target;
    };

    // A new, empty part file for `target`, open for writing; no file when none
    // can be made (a folder standing in the target's place included). A
    // target that is a symbolic link is replaced as a link: what it points to
    // is never touched.
    Part createPart(const QString& target);

    // Takes a part file whose body is complete. A later file for the same
    // target replaces an earlier one. `folders` were made for it and go again
    // if the run is not installed.
    void add(Part part, const QString& localName, const std::vector<QString>& folders);

    qsizetype count() const { return qsizetype(m_parts.size()); }

    // The manifest to install with the files, as info.ini, after all of them.
    bool stageManifest(const QByteArray& bytes);

    // Makes every part file durable, records the set in the install journal
    // and renames each part over its target, the manifest last. Returns the
    // local names that could not be written; when the set cannot be made
    // durable, or a folder has taken a target's place, no target is touched.
    QStringList install();

    // Removes every part file and the folders made for them.
    void discard();

private:
    struct Staged
    {
        QString path;
        QString target;
        QString localName;
        qint64 size = 0;
    };

    static QString randomSuffix();
    void sweep(const QString& folder) const;
    QStringList localNamesOf(const QStringList& paths) const;

    bool writeJournal();
    QString relative(const QString& path) const;

    QString m_gameFolder;
    std::vector<Staged> m_parts;
    std::optional<Staged> m_manifest;
    QHash<QString, size_t> m_byTarget; // where each target's part sits in m_parts
    std::vector<QString> m_folders;    // in the order they were made
    QSet<QString> m_swept;
    QSet<QString> m_ownNames; // of the part files this run made
};
