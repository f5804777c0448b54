#include "FileSync.h"

#include <QFile>
#include <QFileDevice>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace filesync {

namespace {

#ifndef Q_OS_WIN
int openForSync(const QString& path, int flags)
{
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool syncDescriptor(int fd, bool dataOnly)
{
    int result = -1;
    do {
#if defined(Q_OS_LINUX)
        result = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
#else
        Q_UNUSED(dataOnly);
        result = ::fsync(fd);
#endif
    } while (result != 0 && errno == EINTR);
    return result == 0;
}
#endif

} // namespace

void startWriteback(QFileDevice& file)
{
#if defined(Q_OS_LINUX)
    const int fd = file.handle();
    if (fd >= 0 && file.flush())
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // only a hint: errors show in the sync
#else
    Q_UNUSED(file);
#endif
}

QStringList syncFiles(const QStringList& paths)
{
    QStringList failed;
    for (const QString& path : paths) {
#ifdef Q_OS_WIN
        // Flushing needs write access; sharing everything keeps others' handles working.
        const HANDLE handle =
            ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                          GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool ok = handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle);
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
#else
        // Linux and the BSDs sync through a read-only descriptor; others want write access.
        int fd = openForSync(path, O_RDONLY);
        if (fd < 0 && errno == EACCES)
            fd = openForSync(path, O_WRONLY);
        const bool ok = fd >= 0 && syncDescriptor(fd, true);
        if (fd >= 0)
            ::close(fd);
#endif
        if (!ok)
            failed.append(path);
    }
    return failed;
}

QStringList syncFolders(const QStringList& folders)
{
    QStringList failed;
#ifndef Q_OS_WIN
    for (const QString& folder : folders) {
        const int fd = openForSync(folder, O_RDONLY | O_DIRECTORY);
        // Some file systems cannot sync a folder at all; that is no failure.
        const bool ok = fd >= 0 && (syncDescriptor(fd, false) || errno == EINVAL);
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

} // namespace filesync
