#include "InstalledCheck.h"

#include "GameDir.h"
#include "Sha256.h"
#include "UpdateRules.h"

#include <QFile>

#include <limits>

namespace delta {

namespace {

constexpr qint64 AnySize = std::numeric_limits<qint64>::max();

struct Located
{
    Installed state = Installed::Intact;
    std::optional<GameDir> folder;
    QString name;
};

// Walks to the entry's folder one segment at a time, never through a link.
Located locate(const GameDir& root, const ManifestEntry& entry)
{
    QStringList segments = updaterules::pathSegments(entry.FilePath);
    segments.append(updaterules::pathSegments(entry.FileName));
    Located at;
    if (segments.isEmpty())
        return {Installed::OutOfBounds, std::nullopt, {}};
    at.name = segments.takeLast();
    at.folder = root.openSub({}, false);
    for (const QString& segment : std::as_const(segments)) {
        if (!at.folder)
            return {Installed::OutOfBounds, std::nullopt, {}};
        switch (at.folder->kindOf(segment)) {
        case GameDir::Kind::Missing:
            return {Installed::Missing, std::nullopt, {}};
        case GameDir::Kind::Folder:
            at.folder = at.folder->openSub({segment}, false);
            break;
        default:
            return {Installed::OutOfBounds, std::nullopt, {}};
        }
    }
    if (!at.folder)
        return {Installed::OutOfBounds, std::nullopt, {}};
    switch (at.folder->kindOf(at.name)) {
    case GameDir::Kind::Missing:
        at.state = Installed::Missing;
        break;
    case GameDir::Kind::File:
        break;
    default:
        at.state = Installed::OutOfBounds;
    }
    return at;
}

} // namespace

Installed checkInstalled(const GameDir& root, const ManifestEntry& entry)
{
    Located at = locate(root, entry);
    if (at.state != Installed::Intact || !entry.FileSize)
        return at.state;
    const std::unique_ptr<QFile> file = at.folder->openForReading(at.name, AnySize);
    if (!file)
        return Installed::OutOfBounds;
    return file->size() == *entry.FileSize ? Installed::Intact : Installed::OtherSize;
}

Installed verifyInstalled(const GameDir& root, const ManifestEntry& entry,
                          std::atomic<qint64>& hashed, const std::atomic_bool& stop)
{
    const Installed cheap = checkInstalled(root, entry);
    if (cheap != Installed::Intact || !entry.FileHash)
        return cheap;
    Located at = locate(root, entry);
    const std::unique_ptr<QFile> file =
        at.folder ? at.folder->openForReading(at.name, AnySize) : nullptr;
    if (!file)
        return Installed::OutOfBounds;
    verify::Sha256 hash;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 n; !stop && (n = file->read(buffer.data(), buffer.size())) != 0;) {
        if (n < 0)
            return Installed::OtherContent;
        hash.add(QByteArrayView(buffer.constData(), n));
        hashed += n;
    }
    if (stop)
        return Installed::Intact;
    return hash.result() == *entry.FileHash ? Installed::Intact : Installed::OtherContent;
}

bool needsFetch(Installed state)
{
    return state == Installed::Missing || state == Installed::OtherSize ||
           state == Installed::OtherContent;
}

} // namespace delta
