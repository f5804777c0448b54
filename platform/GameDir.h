#pragma once

// A handle on one folder at or below the game folder through which nothing
// outside the game folder can be created, replaced or deleted.
//
// On POSIX systems the handle is an open descriptor and every name is looked
// up relative to it without following symbolic links, so a link that exists
// below the game folder, or is swapped in while a run goes on, never redirects
// a write. On Windows the same checks are made on paths; GameDirWindows.cpp
// says what race remains there.
//
// Names passed to the members are single path components: "", ".", "..",
// and names holding '/' or NUL are refused.

#include "Result.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class GameDir
{
public:
    enum class Kind
    {
        Missing,
        File,
        Folder,
        Link,
        Other
    };

    // The game folder itself is trusted as given (it may be reached through links).
    static std::optional<GameDir> openRoot(const QString& gameFolder, QString* error = nullptr);

    GameDir(GameDir&& other) noexcept;
    GameDir& operator=(GameDir&& other) noexcept;
    GameDir(const GameDir&) = delete;
    GameDir& operator=(const GameDir&) = delete;
    ~GameDir();

    // Walks down `segments` one at a time without following links. With
    // `create`, missing folders are made (mode 0777 & ~umask) and their names
    // (relative to this folder, joined with '/') appended to `created`. An
    // existing folder whose name differs only in ASCII letter case is used as
    // spelled on disk. A segment that is a link (to anything), a file or
    // anything else but a folder fails with a reason. No segments: this folder.
    std::optional<GameDir> openSub(const QStringList& segments, bool create,
                                   QStringList* created = nullptr, QString* error = nullptr) const;

    // Never follows a link. An invalid name is Other.
    Kind kindOf(const QString& name) const;

    // What `name` is and, for a regular file, its size (-1 for anything
    // else) and when it was last written (milliseconds since the epoch, UTC).
    // Never follows a link.
    struct Stat
    {
        Kind kind = Kind::Missing;
        qint64 size = -1;
        qint64 modifiedMs = 0;
    };
    Stat statOf(const QString& name) const;
    qint64 sizeOf(const QString& name) const { return statOf(name).size; }
    bool exists(const QString& name) const { return kindOf(name) != Kind::Missing; }

    // A regular file of at most `maxBytes` open for reading; none, with why,
    // when it is missing, a link, not a regular file (never blocks on a pipe)
    // or too big.
    std::unique_ptr<QFile> openForReading(const QString& name, qint64 maxBytes,
                                          Result* why = nullptr) const;

    // Makes the data of the regular file `name` durable (never through a link).
    Result syncFile(const QString& name) const;
#ifndef Q_OS_WIN
    // A read-only descriptor of the regular file `name` (never through a
    // link) for calls Qt has no word for; -1 when there is none. The caller
    // closes it.
    int openDescriptor(const QString& name) const;
#endif

    // Bytes free to this program on the folder's file system, asked through
    // the folder's own handle (a mount table may not show the folder at all).
    std::optional<qint64> freeSpace(Result* why = nullptr) const;

    // A new file, created exclusively (fails if anything, a link included, has
    // that name) with exactly `perms`, open for reading and writing (so it can
    // be mapped), unbuffered.
    std::unique_ptr<QFile> createNew(const QString& name, QFileDevice::Permissions perms,
                                     QString* error = nullptr) const;

    // An existing regular file (never a link) open for writing at its end,
    // unbuffered: a part file that continues where an interrupted download
    // stopped.
    std::unique_ptr<QFile> openForAppend(const QString& name, QString* error = nullptr) const;

    // Of a regular file; nullopt for anything else, links included.
    std::optional<QFileDevice::Permissions> permissionsOf(const QString& name) const;

    // Replaces `to` (a file or a link; a link is replaced as a link and its
    // target left alone) by `from`, both in this folder.
    bool rename(const QString& from, const QString& to, QString* error = nullptr) const;
    // A link is removed, never its target.
    bool removeFile(const QString& name) const;
    bool removeEmptyFolder(const QString& name) const;
    // Names in this folder (without . and ..), sorted.
    QStringList entries() const;
    // Makes the folder's entries durable (creations, renames, removals in it).
    bool sync() const;

    // The bytes of a regular file of at most `maxBytes`; nullopt with a reason
    // when it is missing, a link, not a regular file (never blocks on a pipe)
    // or too big.
    std::optional<QByteArray> readFile(const QString& name, qint64 maxBytes,
                                       QString* error = nullptr) const;

    // Writes `bytes` under a new temporary name in this folder, syncs it and
    // renames it over `name` (a link named `name` is replaced as a link). The
    // permissions of an existing regular `name` are kept. On failure `name` is
    // untouched and no temporary file is left.
    bool writeFileAtomically(const QString& name, const QByteArray& bytes,
                             QString* error = nullptr) const;

    // True for the names writeFileAtomically() gives its temporary files, so
    // those a killed program left can be cleared.
    static bool isTemporaryName(QStringView name);

    // For messages and for Qt APIs that need a path.
    QString path() const
    {
        return m_path;
    }

private:
#ifdef Q_OS_WIN
    GameDir(QString root, QString path);
    // No component from the game folder down to here is a link or junction.
    bool chainIsPlain(QString* error) const;
#else
    GameDir(int fd, QString path);
#endif

    std::optional<GameDir> duplicate(QString* error) const;
    // Opens the existing folder `name` without following a link.
    std::optional<GameDir> openChild(const QString& name, QString* error) const;
    bool makeFolder(const QString& name, QString* error) const;
    // `name` as spelled on disk, allowing ASCII letter case to differ; `name` when absent.
    QString spelledOnDisk(const QString& name) const;
    std::unique_ptr<QFile> create(const QString& name,
                                  std::optional<QFileDevice::Permissions> perms,
                                  QString* error) const;
    QString pathOf(const QString& name) const;

#ifdef Q_OS_WIN
    QString m_root;
#else
    int m_fd = -1;
#endif
    QString m_path;
};
