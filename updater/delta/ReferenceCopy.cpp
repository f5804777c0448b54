#include "ReferenceCopy.h"

#include "GameDir.h"
#include "Sha256.h"
#include "StagedFiles.h"

#include <QFile>

#include <limits>

namespace delta {

namespace {

constexpr qint64 AnySize = std::numeric_limits<qint64>::max();
constexpr qsizetype Slice = 1 << 20;

// Copies `from` into `to` as it is now, hashing on the way; the bytes copied.
qint64 copyHashing(QFile& from, QFile& to, verify::Sha256& hash, const std::function<bool()>& stop)
{
    QByteArray buffer(Slice, Qt::Uninitialized);
    qint64 copied = 0;
    for (qint64 n; (n = from.read(buffer.data(), buffer.size())) > 0; copied += n) {
        if ((stop && stop()) || to.write(buffer.constData(), n) != n)
            return -1;
        hash.add(QByteArrayView(buffer.constData(), qsizetype(n)));
    }
    return from.atEnd() ? copied : -1;
}

} // namespace

std::unique_ptr<ReferenceCopy> ReferenceCopy::make(const GameDir& folder, const QString& name,
                                                   const std::function<bool()>& stop)
{
    const std::unique_ptr<QFile> original = folder.openForReading(name, AnySize);
    if (!original || original->size() <= 0)
        return nullptr; // an empty file has nothing to patch from, and cannot be mapped
    const QString copyName = StagedFiles::newPartName();
    std::unique_ptr<QFile> copy =
        folder.createNew(copyName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!copy)
        return nullptr;
    // Open handles keep it; where a name cannot go while open, the next start sweeps it.
    const bool unnamed = folder.removeFile(copyName);
    verify::Sha256 hash;
    const qint64 copied = copyHashing(*original, *copy, hash, stop);
    const uchar* bytes = copied > 0 ? copy->map(0, copied) : nullptr;
    if (!unnamed && !bytes) {
        copy.reset();
        folder.removeFile(copyName);
    }
    if (!bytes)
        return nullptr;
    std::unique_ptr<ReferenceCopy> made(new ReferenceCopy);
    made->m_file = std::move(copy);
    made->m_bytes = QByteArrayView(reinterpret_cast<const char*>(bytes), copied);
    made->m_sha256 = hash.result();
    return made;
}

ReferenceCopy::~ReferenceCopy() = default;

} // namespace delta
