#pragma once

// What interrupted downloads left to continue from: for each part file kept
// after an EXIT, a crash or a lost connection, the file it was becoming (its
// target, address, the size and hash the manifest gave) and the validator
// the server sent (ETag or Last-Modified). Kept in Quorvane.resume in the
// game folder, written atomically.

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
    qint64 size = -1; // the manifest's FileSize; -1 when it gave none
    QByteArray hash;  // the manifest's FileHash, hex; empty when none
    QByteArray validator;
};

class ResumeIndex
{
public:
    static constexpr QStringView FileName = u"Quorvane.resume";

    explicit ResumeIndex(const GameDir& root);

    // The record for a download of `target` from `url` expecting `size` and
    // `hash`, taken out of the index; nothing when none matches.
    std::optional<ResumeRecord> take(const QString& target, const QString& url, qint64 size,
                                     const QByteArray& hash);
    void put(const ResumeRecord& record);
    void remove(const QString& target);
    // Part files of records for other targets (or other files) are removed
    // with their records.
    void prune(const QHash<QString, ResumeRecord>& wanted);
    // "folder/part" of every part file the index keeps.
    QSet<QString> parts() const;
    bool save() const;

    static QString keyOf(const QString& target) { return target.toCaseFolded(); }

    // One line for each record the file held that was refused, with why.
    const QStringList& refused() const { return m_refused; }

private:
    const GameDir& m_root;
    QStringList m_refused;
    QHash<QString, ResumeRecord> m_records; // by keyOf(target)
};
