#include "FileSync.h"

#include "GameDir.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <memory>

#ifdef Q_OS_WIN
#include "WindowsPath.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace filesync {

namespace {

#ifdef Q_OS_WIN
HANDLE openForFlush(const std::wstring& path)
{
    // Sharing everything keeps others' handles working.
    return ::CreateFileW(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Flushing needs write access, which a read-only file refuses: its attribute
// is lifted for the open and put back at once (the handle keeps its access).
bool flushFile(const std::wstring& path)
{
    HANDLE handle = openForFlush(path);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (handle == INVALID_HANDLE_VALUE && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) &&
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        handle = openForFlush(path);
        ::SetFileAttributesW(path.c_str(), attributes);
    }
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
    return ok;
}
#else
int openForSync(const QString& path, int flags)
{
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool syncDescriptor(int fd)
{
    int result = -1;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}
#endif

#ifdef Q_OS_LINUX
// Writes a large file out slice by slice, the next slice queued while the
// previous one is waited for, asking `stop` in between: a whole-file flush
// cannot be interrupted, a slice ends in a fraction of a second. The syncfs
// that follows then has only the small files and metadata left.
bool writeOutInSlices(int fd, const std::function<bool()>& stop)
{
    constexpr off_t Slice = 16 * 1024 * 1024;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 2 * Slice)
        return true;
    for (off_t at = 0; at < st.st_size; at += Slice) {
        if (stop())
            return false;
        ::sync_file_range(fd, at, Slice, SYNC_FILE_RANGE_WRITE);
        if (at >= Slice)
            ::sync_file_range(fd, at - Slice, Slice, SYNC_FILE_RANGE_WAIT_BEFORE);
    }
    return true;
}
#endif

// Syncs the files named `paths` (for the answer), opening file i with
// `open(i)`: an open descriptor, or -1.
QStringList syncOpened(const QStringList& paths, const std::function<int(qsizetype)>& open,
                       const std::function<bool()>& stop)
{
    // Once told to stop, stopped for good.
    bool halted = false;
    const std::function<bool()> stopped = [&] { return halted || (halted = stop && stop()); };
    QStringList failed;
#if defined(Q_OS_LINUX)
    // One syncfs per file system waits for the disk once for the whole set; a
    // sync per file waits once per file. It reports any write error on the file
    // system that no one has been told of yet, so a failure of ours is not lost.
    struct FileSystem
    {
        dev_t device;
        int fd;
        QStringList paths;
    };
    std::vector<FileSystem> systems;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        const int fd = open(i);
        struct stat st = {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            failed.append(path);
            continue;
        }
        if (stop && !writeOutInSlices(fd, stopped)) {
            ::close(fd);
            break;
        }
        const auto known = std::find_if(systems.begin(), systems.end(), [&](const FileSystem& fs) {
            return fs.device == st.st_dev;
        });
        if (known == systems.end()) {
            systems.push_back({st.st_dev, fd, {path}});
        } else {
            known->paths.append(path);
            ::close(fd);
        }
    }
    for (const FileSystem& fs : systems) {
        if (stopped()) {
            ::close(fs.fd);
            continue;
        }
        int result = -1;
        do {
            result = ::syncfs(fs.fd);
        } while (result != 0 && errno == EINTR);
        if (result != 0)
            failed.append(fs.paths);
        ::close(fs.fd);
    }
#else
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        if (stopped())
            break;
#ifdef Q_OS_WIN
        Q_UNUSED(open);
        const bool ok = flushFile(winpath::longPath(path));
#else
        const int fd = open(i);
        const bool ok = fd >= 0 && syncDescriptor(fd);
        if (fd >= 0)
            ::close(fd);
#endif
        if (!ok)
            failed.append(path);
    }
#endif
    if (stopped())
        return paths;
    return failed;
}

} // namespace

QStringList syncFiles(const QStringList& paths, const std::function<bool()>& stop)
{
    return syncOpened(
        paths,
        [&](qsizetype i) {
#if defined(Q_OS_WIN)
            Q_UNUSED(i);
            return -1;
#else
            int fd = openForSync(paths.at(i), O_RDONLY);
#ifndef Q_OS_LINUX
            // Most systems sync through a read-only descriptor; some want write access.
            if (fd < 0 && errno == EACCES)
                fd = openForSync(paths.at(i), O_WRONLY);
#endif
            return fd;
#endif
        },
        stop);
}

QStringList syncInFolders(const QList<SyncTarget>& files, const std::function<bool()>& stop)
{
    QStringList paths;
    for (const SyncTarget& file : files)
        paths.append(file.folder->path() + u'/' + file.name);
    return syncOpened(
        paths,
        [&](qsizetype i) {
#if defined(Q_OS_WIN)
            Q_UNUSED(i);
            return -1; // flushed by path: the folder's handle is a path there too
#else
            // Never through a link: opened below the folder's descriptor.
            return files.at(i).folder->openDescriptor(files.at(i).name);
#endif
        },
        stop);
}

QStringList syncFolders(const QStringList& folders)
{
    QStringList failed;
#ifndef Q_OS_WIN
    for (const QString& folder : folders) {
        const int fd = openForSync(folder, O_RDONLY | O_DIRECTORY);
        // Some file systems cannot sync a folder at all; that is no failure.
        const bool ok = fd >= 0 && (syncDescriptor(fd) || errno == EINVAL);
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            failed.append(folder);
    }
#else
    Q_UNUSED(folders);
#endif
    return failed;
}

Result prefill(QFile& file, qint64 size)
{
    const QByteArray zeros(qsizetype(1) << 20, '\0');
    if (!file.seek(0))
        return Result::failure(file.errorString());
    for (qint64 left = size; left > 0;) {
        const qint64 step = std::min<qint64>(left, zeros.size());
        if (file.write(zeros.constData(), step) != step)
            return Result::failure(file.errorString());
        left -= step;
    }
    return file.seek(0) ? Result::success() : Result::failure(file.errorString());
}

Result reserve(QFile& file, qint64 size)
{
    if (!file.resize(size))
        return Result::failure(file.errorString());
#ifndef Q_OS_WIN // Windows allocates what SetEndOfFile gives; a POSIX file may stay sparse
    const int rc = ::posix_fallocate(file.handle(), 0, size);
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL)
        return Result::failure(QStringLiteral("cannot take %1 bytes of disk space: %2")
                                   .arg(size)
                                   .arg(QString::fromLocal8Bit(::strerror(rc))),
                               rc);
#endif
    return Result::success();
}

} // namespace filesync
