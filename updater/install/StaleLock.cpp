#include "StaleLock.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace stalelock {

namespace {

enum class Clearing
{
    Held,
    Cleared,
    Unusable,
};

Clearing clearIfStale(QLockFile& lock, const GameDir& root, const QString& name, QString* note)
{
    switch (root.kindOf(name)) {
    case GameDir::Kind::Missing:
        return Clearing::Cleared; // its holder just ended
    case GameDir::Kind::File: {
        const qint64 modifiedMs = root.statOf(name).modifiedMs;
        if (qAbs(QDateTime::currentMSecsSinceEpoch() - modifiedMs) < MinStaleAge.count())
            return Clearing::Held;
        // Removed only when no program holds its native lock.
        if (!lock.removeStaleLockFile())
            return Clearing::Held;
        *note = name + u": took over a lock no running program held"_s;
        return Clearing::Cleared;
    }
    case GameDir::Kind::Folder:
        if (root.removeEmptyFolder(name)) {
            *note = name + u": took over a lock that was an empty folder"_s;
            return Clearing::Cleared;
        }
        break;
    case GameDir::Kind::Link:
    case GameDir::Kind::Other:
        if (root.removeFile(name)) {
            *note = name + u": took over a lock that was not a plain file"_s;
            return Clearing::Cleared;
        }
        break;
    }
    *note = name + u": cannot be cleared; the run goes on without the lock"_s;
    return Clearing::Unusable;
}

} // namespace

Taken take(QLockFile& lock, const GameDir& root, const QString& name, QString* note)
{
    if (lock.tryLock(0))
        return Taken::Yes;
    if (lock.error() != QLockFile::LockFailedError) {
        // Nothing can be written here: nothing to guard either.
        *note =
            name + (lock.error() == QLockFile::PermissionError
                        ? u": cannot be created (no permission); the run goes on without the lock"_s
                        : u": cannot be created; the run goes on without the lock"_s);
        return Taken::WithoutLock;
    }
    switch (clearIfStale(lock, root, name, note)) {
    case Clearing::Cleared:
        return lock.tryLock(0) ? Taken::Yes : Taken::Waiting;
    case Clearing::Unusable:
        return Taken::WithoutLock;
    case Clearing::Held:
        break;
    }
    return Taken::Waiting;
}

} // namespace stalelock
