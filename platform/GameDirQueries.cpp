// What GameDir tells about the files in its folder: kind and size, reading,
// syncing, free space. On POSIX systems through the folder's descriptor,
// never following a link; on Windows on paths, after the same kind checks.

#include "GameDir.h"
#include "GameDirInternal.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <QFileInfo>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#endif

using namespace Qt::StringLiterals;
using namespace gamedir;
using Kind = GameDir::Kind;

namespace {

void setWhy(Result* why, Result result)
{
    if (why)
        *why = std::move(result);
}

QString tooBig(const QString& path, qint64 maxBytes)
{
    return u"%1 is larger than %2 bytes"_s.arg(QDir::toNativeSeparators(path),
                                               QString::number(maxBytes));
}

} // namespace

#ifndef Q_OS_WIN

GameDir::Stat GameDir::statOf(const QString& name) const
{
    struct stat st = {};
    if (!validName(name))
        return {Kind::Other, -1};
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno == ENOENT ? Kind::Missing : Kind::Other, -1};
    if (S_ISREG(st.st_mode))
        return {Kind::File, qint64(st.st_size),
                qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000};
    if (S_ISLNK(st.st_mode))
        return {Kind::Link, -1};
    return {S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other, -1};
}

namespace {

// A regular file below `folderFd`, opened without following a link and
// without waiting for a writer of a pipe; -1 with why otherwise.
int openRegular(int folderFd, const GameDir& dir, const QString& name, const QString& path,
                Result* why)
{
    if (!validName(name)) {
        setWhy(why, Result::failure(invalidName(name)));
        return -1;
    }
    const int fd = retryOnSignal([&] {
        return ::openat(folderFd, QFile::encodeName(name).constData(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    if (fd < 0) {
        const int err = errno;
        setWhy(why, Result::failure(
                        explain(dir.kindOf(name), Kind::File, path, systemReason(path, err)), err));
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        setWhy(why, Result::failure(explain(Kind::Other, Kind::File, path, {})));
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::unique_ptr<QFile> GameDir::openForReading(const QString& name, qint64 maxBytes,
                                               Result* why) const
{
    const int fd = openRegular(m_fd, *this, name, pathOf(name), why);
    if (fd < 0)
        return nullptr;
    struct stat st = {};
    auto file = std::make_unique<QFile>();
    if (::fstat(fd, &st) != 0 || st.st_size > maxBytes) {
        setWhy(why, Result::failure(tooBig(pathOf(name), maxBytes)));
        ::close(fd);
        return nullptr;
    }
    // Reads block as usual from here on; the descriptor is a regular file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        setWhy(why, Result::failure(pathOf(name) + u": "_s + file->errorString()));
        ::close(fd);
        return nullptr;
    }
    setWhy(why, Result::success());
    return file;
}

Result GameDir::syncFile(const QString& name) const
{
    Result why;
    const int fd = openRegular(m_fd, *this, name, pathOf(name), &why);
    if (fd < 0)
        return why;
    const DescriptorGuard guard{fd};
    if (retryOnSignal([&] { return ::fsync(fd); }) != 0)
        return Result::failure(systemReason(pathOf(name), errno), errno);
    return Result::success();
}

int GameDir::openDescriptor(const QString& name) const
{
    return openRegular(m_fd, *this, name, pathOf(name), nullptr);
}

std::optional<qint64> GameDir::freeSpace(Result* why) const
{
    struct statvfs vfs = {};
    if (retryOnSignal([&] { return ::fstatvfs(m_fd, &vfs); }) != 0) {
        setWhy(why, Result::failure(systemReason(m_path, errno), errno));
        return std::nullopt;
    }
    setWhy(why, Result::success());
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

#else

GameDir::Stat GameDir::statOf(const QString& name) const
{
    const Kind kind = kindOf(name);
    if (kind != Kind::File)
        return {kind, -1};
    const QFileInfo info(pathOf(name));
    return {kind, info.size(), info.lastModified().toMSecsSinceEpoch()};
}

std::unique_ptr<QFile> GameDir::openForReading(const QString& name, qint64 maxBytes,
                                               Result* why) const
{
    QString error = invalidName(name);
    auto file =
        validName(name) ? openPlainFile(pathOf(name), QIODevice::ReadOnly, &error) : nullptr;
    if (!file) {
        setWhy(why, Result::failure(error));
        return nullptr;
    }
    if (file->size() > maxBytes) {
        setWhy(why, Result::failure(tooBig(pathOf(name), maxBytes)));
        return nullptr;
    }
    setWhy(why, Result::success());
    return file;
}

Result GameDir::syncFile(const QString& name) const
{
    QString error = invalidName(name);
    const auto file =
        validName(name) ? openPlainFile(pathOf(name), QIODevice::WriteOnly, &error) : nullptr;
    if (!file)
        return Result::failure(error);
    if (!gamedir::syncFile(*file)) {
        const int err = int(::GetLastError());
        return Result::failure(systemReason(pathOf(name), err), err);
    }
    return Result::success();
}

std::optional<qint64> GameDir::freeSpace(Result* why) const
{
    ULARGE_INTEGER available = {};
    const QString native = QDir::toNativeSeparators(m_path) + u'\\';
    if (!::GetDiskFreeSpaceExW(reinterpret_cast<const wchar_t*>(native.utf16()), &available,
                               nullptr, nullptr)) {
        const int err = int(::GetLastError());
        setWhy(why, Result::failure(systemReason(m_path, err), err));
        return std::nullopt;
    }
    setWhy(why, Result::success());
    return qint64(available.QuadPart);
}

#endif
