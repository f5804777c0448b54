#include "StaleLock.h"

#include <QDateTime>
#include <QFileInfo>

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
        const QDateTime modified = QFileInfo(root.path() + u'/' + name).lastModified().toUTC();
        if (qAbs(modified.msecsTo(QDateTime::currentDateTimeUtc())) < MinStaleAge.count())
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
    if (lock.error() != QLockFile::LockFailedError)
        return Taken::WithoutLock; // nothing can be written here: nothing to guard either
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
