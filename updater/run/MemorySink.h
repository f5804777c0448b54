#pragma once

#include "Transfer.h"

#include <QByteArray>

// Keeps a small body (the manifest, its signature) in memory while it
// arrives; the transfer's size limit bounds it.
class MemorySink final : public transfer::BodySink
{
public:
    bool open(const transfer::Head&) override
    {
        bytes.clear();
        return true;
    }
    bool write(const char* data, qint64 size) override
    {
        bytes.append(data, size);
        return true;
    }
    QString errorString() const override { return {}; }

    QByteArray bytes;
};
