#pragma once

// The zstd window a form of a file is made with, and the most the decoder
// accepts for it: large enough that a patch can refer to any byte of the file
// it applies to and of the output so far. Shared by the publisher and the
// updater, so the manifest's sizes alone bound the decoder's memory.

#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <cstdint>

namespace delta {

inline constexpr int MinWindowLog = 10; // zstd's smallest
inline constexpr int MaxWindowLog = 31; // zstd's largest on 64-bit systems

constexpr int windowLogFor(qint64 referenceSize, qint64 fileSize)
{
    const auto span = std::uint64_t(std::max<qint64>(referenceSize, 0)) +
                      std::uint64_t(std::max<qint64>(fileSize, 0));
    return std::clamp(int(std::bit_width(span)), MinWindowLog, MaxWindowLog);
}

} // namespace delta
