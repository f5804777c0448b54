#pragma once

// A throw-away game folder for tests (removed with the object), with helpers
// to write, read and snapshot every file below it.

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class ScratchFolder
{
public:
    ScratchFolder();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // Absolute path of a name relative to the folder ("/" separated).
    QString file(const QString& relative) const;

    // Writes `bytes` as the whole file, creating parent folders.
    bool write(const QString& relative, const QByteArray& bytes) const;
    // The file's bytes; empty when it cannot be read.
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;
    bool isDir(const QString& relative) const;

    // Every entry below the folder, hidden ones included: files map to their
    // bytes, folders appear as "name/" with no bytes. Two equal snapshots mean
    // the folder is byte-identical.
    QMap<QString, QByteArray> snapshot() const;
    // Leaves files of this name (in any folder) out of snapshots.
    void ignore(const QString& fileName) { m_ignored.insert(fileName); }

private:
    QTemporaryDir m_dir;
    QSet<QString> m_ignored;
};

} // namespace testsupport
