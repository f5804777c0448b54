// GameDir on POSIX systems: every name is looked up relative to an open
// folder descriptor and never through a link.

#include "GameDir.h"
#include "GameDirInternal.h"

#include <QtGlobal>

#ifndef Q_OS_WIN

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;
using namespace gamedir;
using Kind = GameDir::Kind;

namespace {

QString reason(const QString& path, int err)
{
    return systemReason(path, err);
}

struct ModeBit
{
    QFileDevice::Permissions qt;
    mode_t mode;
};

constexpr ModeBit modeBits[] = {
    {QFileDevice::ReadOwner | QFileDevice::ReadUser, S_IRUSR},
    {QFileDevice::WriteOwner | QFileDevice::WriteUser, S_IWUSR},
    {QFileDevice::ExeOwner | QFileDevice::ExeUser, S_IXUSR},
    {QFileDevice::ReadGroup, S_IRGRP},
    {QFileDevice::WriteGroup, S_IWGRP},
    {QFileDevice::ExeGroup, S_IXGRP},
    {QFileDevice::ReadOther, S_IROTH},
    {QFileDevice::WriteOther, S_IWOTH},
    {QFileDevice::ExeOther, S_IXOTH},
};

mode_t toMode(QFileDevice::Permissions perms)
{
    mode_t mode = 0;
    for (const ModeBit& bit : modeBits) {
        if (perms & bit.qt)
            mode |= bit.mode;
    }
    return mode;
}

QFileDevice::Permissions toPermissions(mode_t mode)
{
    QFileDevice::Permissions perms;
    for (const ModeBit& bit : modeBits) {
        if (mode & bit.mode)
            perms |= bit.qt;
    }
    return perms;
}

} // namespace

bool gamedir::syncFile(QFile& file)
{
    return retryOnSignal([&] { return ::fsync(file.handle()); }) == 0;
}

GameDir::GameDir(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

GameDir::GameDir(GameDir&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{}

GameDir& GameDir::operator=(GameDir&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

GameDir::~GameDir()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<GameDir> GameDir::openRoot(const QString& gameFolder, QString* error)
{
    const QString path = QDir::cleanPath(QFileInfo(gameFolder).absoluteFilePath());
    const QByteArray native = QFile::encodeName(path);
    const int fd = retryOnSignal(
        [&] { return ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        fail(error, reason(path, errno));
        return std::nullopt;
    }
    return GameDir(fd, path);
}

std::optional<GameDir> GameDir::duplicate(QString* error) const
{
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        fail(error, reason(m_path, errno));
        return std::nullopt;
    }
    return GameDir(fd, m_path);
}

std::optional<GameDir> GameDir::openChild(const QString& name, QString* error) const
{
    const QByteArray native = QFile::encodeName(name);
    const int fd = retryOnSignal([&] {
        return ::openat(m_fd, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    });
    if (fd < 0) {
        if (error) {
            const QString why = reason(pathOf(name), errno);
            fail(error, explain(kindOf(name), Kind::Folder, pathOf(name), why));
        }
        return std::nullopt;
    }
    return GameDir(fd, pathOf(name));
}

bool GameDir::makeFolder(const QString& name, QString* error) const
{
    if (::mkdirat(m_fd, QFile::encodeName(name).constData(), 0777) == 0)
        return true;
    return fail(error, reason(pathOf(name), errno));
}

GameDir::Kind GameDir::kindOf(const QString& name) const
{
    struct stat st = {};
    if (!validName(name))
        return Kind::Other;
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Other;
    if (S_ISLNK(st.st_mode))
        return Kind::Link;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
}

std::unique_ptr<QFile> GameDir::create(const QString& name,
                                       std::optional<QFileDevice::Permissions> perms,
                                       QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return nullptr;
    }
    const QByteArray native = QFile::encodeName(name);
    const mode_t mode = perms ? toMode(*perms) : 0666;
    const int fd = retryOnSignal([&] {
        return ::openat(m_fd, native.constData(),
                        O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, mode);
    });
    if (fd < 0) {
        fail(error, reason(pathOf(name), errno));
        return nullptr;
    }
    // Exactly the permissions asked for, whatever the umask; none asked: the umask's.
    if (perms && ::fchmod(fd, mode) != 0) {
        fail(error, reason(pathOf(name), errno));
        ::close(fd);
        ::unlinkat(m_fd, native.constData(), 0);
        return nullptr;
    }
    // No file name: path-based calls on this QFile would follow links again.
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        fail(error, file->errorString());
        ::unlinkat(m_fd, native.constData(), 0);
        return nullptr;
    }
    return file;
}

std::unique_ptr<QFile> GameDir::openForAppend(const QString& name, QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return nullptr;
    }
    const int fd = retryOnSignal([&] {
        return ::openat(m_fd, QFile::encodeName(name).constData(),
                        O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    if (fd < 0) {
        fail(error, reason(pathOf(name), errno));
        return nullptr;
    }
    struct stat st = {};
    auto file = std::make_unique<QFile>();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        fail(error, pathOf(name) + QStringLiteral(": not a regular file"));
        ::close(fd);
        return nullptr;
    }
    return file;
}

std::optional<QFileDevice::Permissions> GameDir::permissionsOf(const QString& name) const
{
    struct stat st = {};
    if (!validName(name) ||
        ::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return toPermissions(st.st_mode);
}

bool GameDir::rename(const QString& from, const QString& to, QString* error) const
{
    if (!validName(from) || !validName(to))
        return fail(error, invalidName(validName(from) ? to : from));
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat(m_fd, source.constData(), m_fd, target.constData()) != 0)
        return fail(error, reason(pathOf(to), errno));
    return true;
}

bool GameDir::removeFile(const QString& name) const
{
    return validName(name) && ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0) == 0;
}

bool GameDir::removeEmptyFolder(const QString& name) const
{
    return validName(name) &&
           ::unlinkat(m_fd, QFile::encodeName(name).constData(), AT_REMOVEDIR) == 0;
}

QStringList GameDir::entries() const
{
    // The listing consumes its own descriptor; ours keeps its position.
    const int fd =
        retryOnSignal([&] { return ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    names.sort();
    return names;
}

bool GameDir::sync() const
{
    // Some file systems cannot sync a folder at all; that is no failure.
    return retryOnSignal([&] { return ::fsync(m_fd); }) == 0 || errno == EINVAL;
}

std::optional<QByteArray> GameDir::readFile(const QString& name, qint64 maxBytes,
                                            QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return std::nullopt;
    }
    // Not blocking: opening a named pipe for reading would otherwise wait for a writer.
    const QByteArray native = QFile::encodeName(name);
    const int fd = retryOnSignal([&] {
        return ::openat(m_fd, native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    if (fd < 0) {
        const QString why = reason(pathOf(name), errno);
        fail(error, explain(kindOf(name), Kind::File, pathOf(name), why));
        return std::nullopt;
    }
    const DescriptorGuard guard{fd};
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(error, explain(Kind::Other, Kind::File, pathOf(name), {}));
        return std::nullopt;
    }
    const QString tooBig = u"%1 is larger than %2 bytes"_s.arg(
        QDir::toNativeSeparators(pathOf(name)), QString::number(maxBytes));
    if (st.st_size > maxBytes) {
        fail(error, tooBig);
        return std::nullopt;
    }
    QByteArray bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t got = retryOnSignal([&] { return ::read(fd, chunk, sizeof chunk); });
        if (got < 0) {
            fail(error, reason(pathOf(name), errno));
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        bytes.append(chunk, got);
        if (bytes.size() > maxBytes) { // it grew while being read
            fail(error, tooBig);
            return std::nullopt;
        }
    }
}

#endif
