#pragma once

// Streams a compressed copy or a patch of a game file through the zstd
// decoder straight into the file's own mapped bytes. The file a patch applies
// to is read from memory the caller maps; the decoder's window is limited to
// what the sizes allow and lives in those two mappings (its own memory stays
// a few hundred KiB for any file), the output never passes the file's size,
// and the result counts only when it is exactly the file the manifest
// describes. Given an output with a thread of its own, the decoding runs
// there, block by block, and the transfer's thread only hands the bytes over.

#include "FileOutput.h"
#include "Transfer.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

struct ZSTD_inBuffer_s;
using ZSTD_inBuffer = ZSTD_inBuffer_s;

namespace verify {
class Sha256;
}

namespace delta {

class DecodingSink final : public transfer::BodySink
{
public:
    struct Expected
    {
        qint64 size = 0;
        QByteArray sha256; // raw
    };

    // `reference`: the bytes a patch applies to, empty for a compressed copy;
    // they must stay valid while the sink lives. `out` receives the file.
    DecodingSink(FileOutput& out, QByteArrayView reference, Expected file);
    ~DecodingSink() override;

    // Always a whole body: a form is never continued from a part.
    bool open(const transfer::Head& head) override;
    bool write(const char* data, qint64 size) override;
    bool accepting(std::function<void()> ready) override;
    void whenWritten(std::function<void(bool)> done) override;
    QString errorString() const override;

    // The verdict once the body has ended: one whole frame that decoded to
    // exactly the expected file; otherwise the reason.
    std::optional<QString> finish();

    // A body check whose end asks finish(), so a transfer of a form that does
    // not yield the file is refused. It must not outlive the sink.
    std::unique_ptr<transfer::BodyValidator> resultCheck();

    qint64 written() const { return m_written; }
    // The decoder's own memory, its buffers included (not the mappings).
    qint64 decoderBytes() const;

private:
    struct Decoder;
    bool fail(const QString& reason);
    // One call of the decoder; its output goes on to `m_out`.
    bool step(ZSTD_inBuffer& in);
    // Decodes `size` bytes of the body, on whichever thread decodes.
    bool decode(const char* data, qint64 size);
    std::optional<QString> judge();

    FileOutput& m_out;
    QByteArrayView m_reference;
    Expected m_file;
    std::unique_ptr<Decoder> m_decoder;
    std::unique_ptr<verify::Sha256> m_hash;
    char* m_target = nullptr; // the file's m_file.size bytes
    qint64 m_written = 0;
    bool m_frameEnded = false;
    bool m_stalled = false; // the last call gave nothing and the frame goes on
    std::optional<std::optional<QString>> m_verdict;
    QString m_error;
    // While set, the members above belong to the stream's thread until it
    // has drained (whenWritten).
    std::shared_ptr<BodyWriter::Stream> m_stream;
};

} // namespace delta
