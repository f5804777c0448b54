#pragma once

// The bytes a patch applies to: a private copy of the player's file, made
// beside it while it is hashed, and mapped. Mapping the player's own file
// would let another program that shortens it meanwhile end the updater (a
// mapped page past a file's end cannot be read, and catching that would take
// process-wide signal handling); the copy is ours alone. Its name is a part
// file's, removed as soon as the copy is open, so none is ever left behind.
// The cost: one more read and write of the file, and its size in disk space
// while the patch is applied.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

class GameDir;
class QFile;

namespace delta {

class ReferenceCopy
{
public:
    // Copies the regular file `name` of `folder`; nothing when it is missing,
    // a link, empty, cannot be copied, or `stop` says so meanwhile.
    static std::unique_ptr<ReferenceCopy> make(const GameDir& folder, const QString& name,
                                               const std::function<bool()>& stop = {});
    ~ReferenceCopy();
    ReferenceCopy(const ReferenceCopy&) = delete;
    ReferenceCopy& operator=(const ReferenceCopy&) = delete;

    QByteArrayView bytes() const { return m_bytes; }
    // SHA-256 (raw) of the bytes copied, which are the bytes mapped.
    const QByteArray& sha256() const { return m_sha256; }

private:
    ReferenceCopy() = default;

    std::unique_ptr<QFile> m_file;
    QByteArrayView m_bytes;
    QByteArray m_sha256;
};

} // namespace delta
