#include "FileSnapshot.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QDateTime>
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

FileStamp stampOf(const QFileInfo& info)
{
    return {info.size(), info.lastModified().toMSecsSinceEpoch() * 1000000,
            info.birthTime().toMSecsSinceEpoch() * 1000000};
}

} // namespace

Snapshot Snapshot::load(const QString& path)
{
    Snapshot snap;
    const QFileInfo info(path);
    if (!info.exists())
        return snap;
    if (!info.isFile()) {
        snap.found = Found::NotRegular;
        return snap;
    }
    snap.stamp = stampOf(info);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        snap.found = Found::Unreadable;
        snap.reason = file.errorString();
        return snap;
    }
    snap.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        snap.found = Found::Unreadable;
        snap.reason = file.errorString();
        return snap;
    }
    snap.found = Found::File;
    return snap;
}

bool Snapshot::unchanged(const QString& path) const
{
    const QFileInfo info(path);
    return info.isFile() && stampOf(info) == stamp;
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
