#pragma once

// Where a decoded game file goes: all of its bytes at once, as writable
// memory the file itself backs (a mapped part file). The decoder writes into
// it and reads back from it as its window, so it keeps no copy of the output
// of its own, whatever the file's size.

#include "Transfer.h"

#include <QString>

namespace delta {

class FileOutput
{
public:
    virtual ~FileOutput() = default;
    // Starts the file afresh for the body `head` with room for exactly
    // `size` (> 0) bytes, valid while the output lives; nothing, with
    // errorString(), when it cannot.
    virtual char* openWhole(const transfer::Head& head, qint64 size) = 0;
    virtual QString errorString() const = 0;
};

} // namespace delta
