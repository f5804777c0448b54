#pragma once

// Making written files durable in batches. Syncing each file as it is written
// waits for the disk once per file; writing a whole set first and syncing it
// at the end lets the file system commit the set together.

#include "Result.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

class GameDir;

namespace filesync {

// Makes the data of every listed file durable. Returns the files that could
// not be opened or synced; empty when all are on disk. `stop` is asked
// between files and between slices of large ones: once it says so, the rest
// is left and every file counts as failed, so a long flush can be abandoned.
QStringList syncFiles(const QStringList& paths, const std::function<bool()>& stop = {});

// A file `name` in `folder`.
struct SyncTarget
{
    const GameDir* folder;
    QString name;
};
// The same for files reached through their folders' handles (never through a
// link); the answer names them by path.
QStringList syncInFolders(const QList<SyncTarget>& files, const std::function<bool()>& stop = {});

// Makes the entries of every listed folder durable (files created in or
// renamed into it). Returns the folders that failed. Windows journals these
// itself, so there it does nothing.
QStringList syncFolders(const QStringList& folders);

// Gives the open file `file` exactly `size` bytes with their disk space
// taken now, so that writing them through a mapping can never hit a full
// disk (which would end the program rather than fail a write).
Result reserve(QFile& file, qint64 size);

// Writes zeros over the first `size` bytes of `file` through the page cache,
// so that a mapping of it finds its pages there. Faulting in the pages of a
// reserved, never written range one at a time zeroes each on its own, and on
// a virtual machine each may first have to be backed by the host: a 256 MiB
// mapping took 2.5 s to fill that way here, against 0.08 s after this.
Result prefill(QFile& file, qint64 size);

} // namespace filesync
