#pragma once

// Making written files durable in batches. Syncing each file as it is written
// waits for the disk once per file; writing a whole set first and syncing it
// at the end lets the file system commit the set together.

#include <QString>
#include <QStringList>

namespace filesync {

// Makes the data of every listed file durable. Returns the files that could
// not be opened or synced; empty when all are on disk.
QStringList syncFiles(const QStringList& paths);

// Makes the entries of every listed folder durable (files created in or
// renamed into it). Returns the folders that failed. Windows journals these
// itself, so there it does nothing.
QStringList syncFolders(const QStringList& folders);

} // namespace filesync
