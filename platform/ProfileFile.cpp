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

#ifdef Q_OS_WIN
#include <QDateTime>
#else
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace profile {

namespace {

// What identifies one version of a file on disk. On POSIX the inode and the
// change time catch a rewrite that restores size and modification time.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 inode = 0;
    quint64 device = 0;

    bool operator==(const FileStamp&) const = default;
};

enum class StatResult
{
    Missing,
    RegularFile,
    Other
};

StatResult statFile(const QString& path, FileStamp& stamp)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.exists())
        return StatResult::Missing;
    if (!info.isFile())
        return StatResult::Other;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    stamp.changedNs = info.birthTime().toMSecsSinceEpoch() * 1000000;
    return StatResult::RegularFile;
#else
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return StatResult::Missing;
    if (!S_ISREG(st.st_mode))
        return StatResult::Other;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.inode = st.st_ino;
    stamp.device = st.st_dev;
    return StatResult::RegularFile;
#endif
}

struct CachedFile
{
    FileStamp stamp;
    std::shared_ptr<const syntax::Index> index;
};

// A few files are read over and over (the two manifests, the settings file);
// the bound only keeps a long run from collecting parses.
constexpr qsizetype maxCachedFiles = 16;

QMutex cacheMutex;
QHash<QString, CachedFile> cache;

QString cacheKey(const QString& path)
{
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    return QDir::cleanPath(QDir::currentPath() + u'/' + path);
}

void remember(const QString& key, const FileStamp& stamp,
              std::shared_ptr<const syntax::Index> index)
{
    if (cache.size() >= maxCachedFiles && !cache.contains(key))
        cache.erase(cache.begin());
    cache.insert(key, CachedFile{stamp, std::move(index)});
}

QString describe(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

std::optional<QByteArray> readValue(const QString& path, QByteArrayView section, QByteArrayView key)
{
    const QByteArray sectionName = syntax::foldName(section);
    const QByteArray keyName = syntax::foldName(key);
    if (sectionName.isEmpty() || keyName.isEmpty() || path.isEmpty())
        return std::nullopt;

    const QString cachePath = cacheKey(path);
    QMutexLocker lock(&cacheMutex);

    FileStamp stamp;
    if (statFile(cachePath, stamp) != StatResult::RegularFile) {
        cache.remove(cachePath);
        return std::nullopt;
    }

    std::shared_ptr<const syntax::Index> index;
    const auto hit = cache.constFind(cachePath);
    if (hit != cache.cend() && hit->stamp == stamp) {
        index = hit->index;
    } else {
        QFile file(cachePath);
        if (!file.open(QIODevice::ReadOnly)) {
            cache.remove(cachePath);
            return std::nullopt;
        }
        // The stamp was taken before reading: a change made while we read
        // shows up as a new stamp on the next call.
        index = std::make_shared<const syntax::Index>(syntax::Index::parse(file.readAll()));
        remember(cachePath, stamp, index);
    }
    return index->find(sectionName, keyName);
}

WriteResult writeValue(const QString& path, QByteArrayView section, QByteArrayView key,
                       QByteArrayView value)
{
    if (path.isEmpty())
        return WriteResult::failure(u"No file name given"_s);
    if (const QString refusal = syntax::checkEntry(section, key, value); !refusal.isEmpty())
        return WriteResult::failure(refusal);

    const QString cachePath = cacheKey(path);
    QMutexLocker lock(&cacheMutex);

    QByteArray before;
    FileStamp stamp;
    switch (statFile(cachePath, stamp)) {
    case StatResult::Missing:
        break;
    case StatResult::Other:
        return WriteResult::failure(u"Cannot write %1: Not a regular file"_s.arg(describe(path)));
    case StatResult::RegularFile: {
        QFile file(cachePath);
        if (!file.open(QIODevice::ReadOnly))
            return WriteResult::failure(
                u"Cannot read %1: %2"_s.arg(describe(path), file.errorString()));
        before = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return WriteResult::failure(
                u"Cannot read %1: %2"_s.arg(describe(path), file.errorString()));
        break;
    }
    }

    const QByteArray after = syntax::withValue(before, section, key, value);

    QSaveFile out(cachePath);
    // Writing in place would lose the all-or-nothing guarantee.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return WriteResult::failure(
            u"Cannot create %1: %2"_s.arg(describe(path), out.errorString()));
    if (stamp.size >= 0) {
        // Keep the old mode even where the umask would narrow the new file's.
        const QFileDevice::Permissions mode = QFileInfo(cachePath).permissions();
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

    FileStamp written;
    if (statFile(cachePath, written) == StatResult::RegularFile)
        remember(cachePath, written,
                 std::make_shared<const syntax::Index>(syntax::Index::parse(after)));
    else
        cache.remove(cachePath);
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
    QMutexLocker lock(&cacheMutex);
    cache.clear();
}

} // namespace profile
