#pragma once

#include "FileOutput.h"

#include <QByteArray>

namespace testsupport {

// A decoded file held in memory, as a mapped part file would hold it.
class MemoryOutput final : public delta::FileOutput
{
public:
    char* openWhole(const transfer::Head& head, qint64 size) override
    {
        opened = head.resumedAt < 0;
        bytes = QByteArray(qsizetype(size), '\0');
        return opened ? bytes.data() : nullptr;
    }
    QString errorString() const override { return {}; }
    QByteArray bytes;
    bool opened = false;
};

} // namespace testsupport
