#pragma once

// Making the smaller forms of a file with zstd at its default level: a
// compressed copy, and a patch that needs an earlier version of the file as
// its reference prefix (long-distance matching, a window that spans both).

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace publisher {

// `data` compressed, when the result is shorter than `limit` bytes.
std::optional<QByteArray> compressBelow(QByteArrayView data, qint64 limit);

// A patch that turns `reference` into `data`, when shorter than `limit` bytes.
std::optional<QByteArray> patchBelow(QByteArrayView reference, QByteArrayView data, qint64 limit);

} // namespace publisher
