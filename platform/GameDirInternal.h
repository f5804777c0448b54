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
