#pragma once

// What interrupted downloads left to continue from: for each part file kept
// after an EXIT, a crash or a lost connection, the file it was becoming (its
// target, address, the version, size and hash the manifest gave) and the
// validator the server sent (ETag or Last-Modified). Kept in Quorvane.resume
// in the game folder, written atomically. A download without a validator is
// never recorded: nothing could prove the rest belongs to the bytes so far.
// The file is read as hostile: a record that names anything but one of our
// part files beside its target is void.

#include "GameDir.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

struct ResumeRecord
{
    QString target;     // folders and name below the game folder, "/" between
    QString folderPath; // of the part file, as spelled on disk
    QString part;       // the part file's name in that folder
    QString url;
    QString version;  // the manifest's FileVersion
    qint64 size = -1; // the manifest's FileSize; -1 when it gave none
    QByteArray hash;  // the manifest's FileHash, hex; empty when none
    QByteArray validator;
    qint64 partSize = -1; // bytes in the part when recorded; -1 while it still grows
};

class ResumeIndex
{
public:
    static constexpr QStringView FileName = u"Quorvane.resume";

    explicit ResumeIndex(const GameDir& root);

    // The record for the download `key` describes (target, address, version,
    // size and hash), taken out of the index; nothing when any differs.
    std::optional<ResumeRecord> take(const ResumeRecord& key);
    void put(const ResumeRecord& record);
    void remove(const QString& target);
    // Part files of records for other targets (or other files) are removed
    // with their records.
    void prune(const QHash<QString, ResumeRecord>& wanted);
    // "folder/part" of every part file the index keeps.
    QSet<QString> parts() const;
    bool save() const;
    // Why each record read from the file was void, for the run log.
    const QStringList& voided() const { return m_voided; }

    // True for a validator a record may keep and an If-Range may carry.
    static bool isUsableValidator(const QByteArray& validator);
    // Why `record` cannot be trusted, or empty.
    static QString problemOf(const ResumeRecord& record);

    static QString keyOf(const QString& target) { return target.toCaseFolded(); }

private:
    const GameDir& m_root;
    QHash<QString, ResumeRecord> m_records; // by keyOf(target)
    QStringList m_voided;
};
