#include "ProfileFile.h"

#include "ProfileSyntax.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>

#include <memory>
#include <utility>

#ifdef Q_OS_WIN
#include <QDateTime>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace profile {

namespace {

// What identifies one version of a file on disk.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileStamp&) const = default;
};

enum class Found
{
    File,
    Missing,
    NotRegular,
    Unreadable
};

// A file as it was read: its bytes, its stamp and, on POSIX, the open file it
// came from. Asking the open file whether it changed is much cheaper than a
// lookup by path, and a file replaced by rename or deleted shows up there too:
// its link count drops to zero, and a rename away changes its change time.
class Snapshot
{
public:
    Snapshot() = default;
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    Snapshot(Snapshot&& other) noexcept { swap(other); }
    Snapshot& operator=(Snapshot&& other) noexcept
    {
        Snapshot gone(std::move(other));
        swap(gone);
        return *this;
    }
    ~Snapshot()
    {
#ifndef Q_OS_WIN
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }

    Found found = Found::Missing;
    QString reason; // for Unreadable
    QByteArray bytes;
    FileStamp stamp;

    static Snapshot load(const QString& path);
    bool unchanged(const QString& path) const;

private:
    void swap(Snapshot& other) noexcept
    {
        std::swap(found, other.found);
        std::swap(reason, other.reason);
        std::swap(bytes, other.bytes);
        std::swap(stamp, other.stamp);
        std::swap(m_fd, other.m_fd);
    }
    int m_fd = -1; // POSIX only
};

#ifdef Q_OS_WIN

FileStamp stampOf(const QFileInfo& info)
{
    return {info.size(), info.lastModified().toMSecsSinceEpoch() * 1000000,
            info.birthTime().toMSecsSinceEpoch() * 1000000};
}

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

FileStamp stampOf(const struct stat& st)
{
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

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

struct CachedFile
{
    Snapshot snapshot;
    std::shared_ptr<const syntax::Index> index;
};

// A few files are read over and over (the two manifests, the settings file);
// the bound only keeps a long run from collecting parses and open files.
constexpr qsizetype maxCachedFiles = 16;

struct Cache
{
    QMutex mutex;
    QHash<QString, std::shared_ptr<CachedFile>> files;

    void remember(const QString& key, Snapshot snapshot)
    {
        auto entry = std::make_shared<CachedFile>();
        entry->index = std::make_shared<const syntax::Index>(syntax::Index::parse(snapshot.bytes));
        entry->snapshot = std::move(snapshot);
        if (files.size() >= maxCachedFiles && !files.contains(key))
            files.erase(files.begin());
        files.insert(key, std::move(entry));
    }
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

bool isAbsolute(const QString& path)
{
#ifdef Q_OS_WIN
    // "C:/...", "C:\..." or a network path; QDir::isAbsolutePath would do, at
    // the price of a QFileInfo per read.
    if (path.size() >= 3 && path.at(1) == u':' && (path.at(2) == u'/' || path.at(2) == u'\\'))
        return true;
    return path.startsWith(u"//") || path.startsWith(u"\\\\");
#else
    return path.startsWith(u'/');
#endif
}

QString absolute(const QString& path)
{
    if (isAbsolute(path))
        return path;
    return QDir::cleanPath(QDir::currentPath() + u'/' + path);
}

QString describe(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

std::optional<QByteArray> readValue(const QString& path, QByteArrayView section, QByteArrayView key)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString file = absolute(path);
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);

    const auto hit = c.files.constFind(file);
    if (hit != c.files.cend() && (*hit)->snapshot.unchanged(file))
        return (*hit)->index->find(section, key);

    Snapshot snapshot = Snapshot::load(file);
    if (snapshot.found != Found::File) {
        c.files.remove(file);
        return std::nullopt;
    }
    c.remember(file, std::move(snapshot));
    return c.files.value(file)->index->find(section, key);
}

ParsedFile::ParsedFile(std::shared_ptr<const syntax::Index> index) : m_index(std::move(index)) {}

std::optional<QByteArray> ParsedFile::value(QByteArrayView section, QByteArrayView key) const
{
    if (!m_index)
        return std::nullopt;
    return m_index->find(section, key);
}

ParsedFile readFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QString file = absolute(path);
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);

    const auto hit = c.files.constFind(file);
    if (hit != c.files.cend() && (*hit)->snapshot.unchanged(file))
        return ParsedFile((*hit)->index);

    Snapshot snapshot = Snapshot::load(file);
    if (snapshot.found != Found::File) {
        c.files.remove(file);
        return {};
    }
    c.remember(file, std::move(snapshot));
    return ParsedFile(c.files.value(file)->index);
}

WriteResult writeValue(const QString& path, QByteArrayView section, QByteArrayView key,
                       QByteArrayView value)
{
    if (path.isEmpty())
        return WriteResult::failure(u"No file name given"_s);
    if (const QString refusal = syntax::checkEntry(section, key, value); !refusal.isEmpty())
        return WriteResult::failure(refusal);

    const QString file = absolute(path);
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);

    const Snapshot before = Snapshot::load(file);
    switch (before.found) {
    case Found::File:
    case Found::Missing:
        break;
    case Found::NotRegular:
        return WriteResult::failure(u"Cannot write %1: Not a regular file"_s.arg(describe(path)));
    case Found::Unreadable:
        return WriteResult::failure(u"Cannot read %1: %2"_s.arg(describe(path), before.reason));
    }

    const QByteArray after = syntax::withValue(before.bytes, section, key, value);

    QSaveFile out(file);
    // Writing in place would lose the all-or-nothing guarantee.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return WriteResult::failure(
            u"Cannot create %1: %2"_s.arg(describe(path), out.errorString()));
    if (before.found == Found::File) {
        // Keep the old mode even where the umask would narrow the new file's.
        const QFileDevice::Permissions mode = QFileInfo(file).permissions();
        if (mode != QFileDevice::Permissions())
            out.setPermissions(mode);
    }
    if (out.write(after) != after.size()) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return WriteResult::failure(u"Cannot write %1: %2"_s.arg(describe(path), reason));
    }
    if (!out.commit())
        return WriteResult::failure(u"Cannot save %1: %2"_s.arg(describe(path), out.errorString()));

    // Read back rather than trusting `after`: the cache must describe the
    // file on disk even if another program got in between.
    Snapshot written = Snapshot::load(file);
    if (written.found == Found::File)
        c.remember(file, std::move(written));
    else
        c.files.remove(file);
    return WriteResult::success();
}

std::optional<QString> readString(const QString& path, const QString& section, const QString& key)
{
    const std::optional<QByteArray> raw = readValue(path, section.toUtf8(), key.toUtf8());
    if (!raw)
        return std::nullopt;
    return QString::fromUtf8(*raw);
}

WriteResult writeString(const QString& path, const QString& section, const QString& key,
                        const QString& value)
{
    return writeValue(path, section.toUtf8(), key.toUtf8(), value.toUtf8());
}

void clearCache()
{
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);
    c.files.clear();
}

} // namespace profile
