#pragma once

// One profile file as read from disk, with what is needed to tell cheaply
// whether the file has changed since. Internal to the profile engine.

#include <QByteArray>
#include <QString>

#include <utility>

namespace profile::detail {

// What identifies one version of a file on disk.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 fileId = 0; // Windows: a replacement is another file even with equal times

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
    ~Snapshot();

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

} // namespace profile::detail
