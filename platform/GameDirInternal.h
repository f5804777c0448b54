#pragma once

// Helpers GameDir's shared code and its per-system halves have in common.

#include "GameDir.h"

#ifndef Q_OS_WIN
#include <cerrno>
#include <unistd.h>
#endif

class QFile;

namespace gamedir {

// Stores `reason` in `error` when given; false.
bool fail(QString* error, const QString& reason);
// A single path component that names something inside the folder.
bool validName(const QString& name);
QString invalidName(const QString& name);
// Why something that is `kind` cannot be used where `wanted` is needed;
// `otherwise` when the kind is right and something else went wrong.
QString explain(GameDir::Kind kind, GameDir::Kind wanted, const QString& path,
                const QString& otherwise);
// Makes the file's bytes durable (defined per system).
bool syncFile(QFile& file);
#ifdef Q_OS_WIN
// The regular file at `path` open without following a link (the open handle
// is checked) and unbuffered; others may go on reading, writing and renaming
// it. Null, with why, otherwise.
std::unique_ptr<QFile> openPlainFile(const QString& path, QIODevice::OpenMode mode, QString* error);
// The name of the entry `path` reaches as the file system stores it (it
// ignores letter case there); empty when there is none.
QString storedName(const QString& path);
#endif

// "path: what the system said".
QString systemReason(const QString& path, int osError);

#ifndef Q_OS_WIN
template <typename Call> auto retryOnSignal(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

struct DescriptorGuard
{
    int fd;
    ~DescriptorGuard() { ::close(fd); }
};
#endif

} // namespace gamedir
