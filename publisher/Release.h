#pragma once

// The files of a release folder as manifest entries, and the byte-level work
// on them: hashing with progress and copying onto the site.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace publisher {

struct ReleaseFile
{
    QString folder; // "\"-separated, empty for the top folder
    QString name;
    QString sourcePath;
    qint64 size = 0;
    QByteArray sha256; // raw bytes, filled by hashing
};

// Every file below `releaseDir` (hidden ones too), sorted by folder and name.
// `problems` lists what the updater or the one-folder site could not take:
// unsafe or unwritable names, names that collide on the site, unreadable files.
struct ReleaseScan
{
    QList<ReleaseFile> files;
    QStringList problems;
};
ReleaseScan scanRelease(const QString& releaseDir);

// What below `folder` is not a plain file or folder of its own: every link
// (to a file or a folder, never entered) and every name that is not valid
// UTF-8, each as "relative/path: why". `what` names the folder in the reason.
QStringList foreignEntries(const QString& folder, const QString& what);

// Called with bytes done and bytes in all while hashing.
using Progress = std::function<void(qint64 done, qint64 total)>;

// SHA-256 of the file at `path`, read in chunks; nothing (and `error` set)
// when it cannot be read. `done`/`total` feed `progress`.
std::optional<QByteArray> hashFile(const QString& path, QString* error, qint64* done = nullptr,
                                   qint64 total = 0, const Progress& progress = {});

// Copies `from` to `to` atomically; the copy is committed only when the bytes
// read have `expectedSha256` (a file changed under the publisher is refused).
bool copyChecked(const QString& from, const QString& to, const QByteArray& expectedSha256,
                 QString* error);

} // namespace publisher
