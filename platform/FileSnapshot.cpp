#include "FileSnapshot.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "WindowsPath.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace profile::detail {

#ifdef Q_OS_WIN

namespace {

// Another program may read, write, replace or delete the file while we hold it.
HANDLE openShared(const QString& path, DWORD access)
{
    return ::CreateFileW(winpath::longPath(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
}

// Windows' own change time (not the creation time, which a file made in the
// place of a deleted one inherits) and the file's index on its volume.
bool stampOf(HANDLE handle, FileStamp& stamp)
{
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    BY_HANDLE_FILE_INFORMATION identity = {};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) ||
        !::GetFileInformationByHandle(handle, &identity))
        return false;
    stamp.size = standard.EndOfFile.QuadPart;
    stamp.modifiedNs = basic.LastWriteTime.QuadPart * 100;
    stamp.changedNs = basic.ChangeTime.QuadPart * 100;
    stamp.fileId = quint64(identity.nFileIndexHigh) << 32 | identity.nFileIndexLow;
    return true;
}

Snapshot unreadable(DWORD error)
{
    Snapshot snap;
    snap.found = Found::Unreadable;
    snap.reason = qt_error_string(int(error));
    return snap;
}

} // namespace

Snapshot Snapshot::load(const QString& path)
{
    Snapshot snap;
    const DWORD attributes = ::GetFileAttributesW(winpath::longPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return snap;
        return unreadable(error);
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        snap.found = Found::NotRegular;
        return snap;
    }
    const HANDLE handle = openShared(path, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE)
        return unreadable(::GetLastError());
    // Stamped before reading: a change made while we read shows up as a new stamp next time.
    QByteArray bytes;
    bool ok = stampOf(handle, snap.stamp) && snap.stamp.size < (qint64(1) << 31);
    if (ok) {
        bytes.resize(qsizetype(snap.stamp.size) + 1);
        qsizetype used = 0;
        DWORD got = 0;
        while ((ok = ::ReadFile(handle, bytes.data() + used, DWORD(bytes.size() - used), &got,
                                nullptr)) &&
               got > 0) {
            used += got;
            if (used == bytes.size())
                bytes.resize(bytes.size() * 2);
        }
        bytes.truncate(used);
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!ok)
        return unreadable(error);
    snap.bytes = std::move(bytes);
    snap.found = Found::File;
    return snap;
}

bool Snapshot::unchanged(const QString& path) const
{
    const HANDLE handle = openShared(path, FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FileStamp now;
    const bool same = stampOf(handle, now) && now == stamp;
    ::CloseHandle(handle);
    return same;
}

#else

namespace {

FileStamp stampOf(const struct stat& st)
{
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

} // namespace

Snapshot Snapshot::load(const QString& path)
{
    Snapshot snap;
    // Non-blocking so that a named pipe in the file's place cannot hang us.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            snap.found = Found::Missing;
        } else if (error == EISDIR) {
            snap.found = Found::NotRegular;
        } else {
            snap.found = Found::Unreadable;
            snap.reason = QString::fromLocal8Bit(std::strerror(error));
        }
        return snap;
    }
    snap.m_fd = fd;
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        snap.found = Found::Unreadable;
        snap.reason = QString::fromLocal8Bit(std::strerror(errno));
        return snap;
    }
    if (!S_ISREG(st.st_mode)) {
        snap.found = Found::NotRegular;
        return snap;
    }
    // Stamped before reading: a change made while we read shows up as a new
    // stamp next time.
    snap.stamp = stampOf(st);
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            snap.found = Found::Unreadable;
            snap.reason = QString::fromLocal8Bit(std::strerror(errno));
            return snap;
        }
        used += n;
    }
    bytes.truncate(used);
    snap.bytes = std::move(bytes);
    snap.found = Found::File;
    return snap;
}

bool Snapshot::unchanged(const QString&) const
{
    struct stat st = {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_nlink > 0 && stampOf(st) == stamp;
}

#endif

Snapshot::~Snapshot()
{
#ifndef Q_OS_WIN
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

} // namespace profile::detail
