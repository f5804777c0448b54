#pragma once

#include "FileOutput.h"

#include <QByteArray>

#include <atomic>
#include <thread>

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
    // Given a writer, the decoding goes behind, on its thread.
    std::shared_ptr<BodyWriter::Stream> decodeBehind(BodyWriter::Consumer consume) override
    {
        if (!writer)
            return nullptr;
        return writer->open([this, consume](const QByteArray& block, QString& error) {
            ++(std::this_thread::get_id() == caller ? decodedOnCaller : decodedBehind);
            return consume(block, error);
        });
    }
    QByteArray bytes;
    bool opened = false;
    BodyWriter* writer = nullptr;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> decodedOnCaller{0}; // blocks the stream took on each side
    std::atomic<int> decodedBehind{0};
};

} // namespace testsupport
