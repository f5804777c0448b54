#pragma once

// Where a decoded game file goes: all of its bytes at once, as writable
// memory the file itself backs (a mapped part file). The decoder writes into
// it and reads back from it as its window, so it keeps no copy of the output
// of its own, whatever the file's size.

#include "BodyWriter.h"
#include "Transfer.h"

#include <QString>

#include <memory>

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
    // After openWhole: a stream whose blocks `consume` takes on a thread of
    // its own, stopped before the file is touched again; nothing when the
    // output has no such thread (the caller then decodes where it is).
    virtual std::shared_ptr<BodyWriter::Stream> decodeBehind(BodyWriter::Consumer consume)
    {
        (void)consume;
        return nullptr;
    }
};

} // namespace delta
