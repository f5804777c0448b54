#include "DecodingSink.h"

#include "Sha256.h"
#include "WindowLog.h"

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_d_stableOutBuffer: output straight into the file
#include <zstd.h>
#include <zstd_errors.h>

using namespace Qt::StringLiterals;

namespace delta {

namespace {

class ResultCheck final : public transfer::BodyValidator
{
public:
    explicit ResultCheck(DecodingSink& sink) : m_sink(sink) {}
    std::optional<QString> feed(const char*, qint64) override { return std::nullopt; }
    std::optional<QString> finish() override { return m_sink.finish(); }

private:
    DecodingSink& m_sink;
};

QString zstdReason(size_t code, qint64 fileSize)
{
    if (ZSTD_getErrorCode(code) == ZSTD_error_frameParameter_windowTooLarge)
        return u"the form needs a larger window than the file's sizes allow"_s;
    if (ZSTD_getErrorCode(code) == ZSTD_error_dstSize_tooSmall)
        return u"the form decodes to more than %1 bytes"_s.arg(fileSize);
    return u"the form does not decode ("_s + QString::fromLatin1(ZSTD_getErrorName(code)) + u')';
}

} // namespace

struct DecodingSink::Decoder
{
    ZSTD_DCtx* ctx = ZSTD_createDCtx();
    ~Decoder() { ZSTD_freeDCtx(ctx); }
};

DecodingSink::DecodingSink(FileOutput& out, QByteArrayView reference, Expected file)
    : m_out(out), m_reference(reference), m_file(std::move(file))
{}

DecodingSink::~DecodingSink()
{
    if (m_stream)
        m_stream->abandon(); // its thread must be done with this sink
}

bool DecodingSink::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool DecodingSink::open(const transfer::Head& head)
{
    if (head.resumedAt >= 0)
        return fail(u"a form is never continued"_s);
    if (m_file.size <= 0)
        return fail(u"an empty file has no forms"_s);
    m_decoder = std::make_unique<Decoder>();
    m_hash = std::make_unique<verify::Sha256>();
    m_written = 0;
    m_frameEnded = false;
    ZSTD_DCtx* ctx = m_decoder->ctx;
    if (!ctx)
        return fail(u"the decoder cannot be set up"_s);
    const int windowLog = windowLogFor(m_reference.size(), m_file.size);
    size_t rc = ZSTD_DCtx_setParameter(ctx, ZSTD_d_windowLogMax, windowLog);
    // The output buffer is the whole file and stays put: the decoder uses it
    // as its window instead of a buffer of its own.
    if (!ZSTD_isError(rc))
        rc = ZSTD_DCtx_setParameter(ctx, ZSTD_d_stableOutBuffer, 1);
    if (!ZSTD_isError(rc) && !m_reference.isEmpty())
        rc = ZSTD_DCtx_refPrefix(ctx, m_reference.data(), size_t(m_reference.size()));
    if (ZSTD_isError(rc))
        return fail(u"the decoder cannot be set up"_s);
    m_target = m_out.openWhole(head, m_file.size);
    if (!m_target)
        return fail(m_out.errorString());
    m_stream = m_out.decodeBehind([this](const QByteArray& block, QString& error) {
        if (decode(block.constData(), block.size()))
            return true;
        error = m_error;
        return false;
    });
    return true;
}

bool DecodingSink::step(ZSTD_inBuffer& in)
{
    ZSTD_outBuffer out{m_target, size_t(m_file.size), size_t(m_written)};
    const size_t rc = ZSTD_decompressStream(m_decoder->ctx, &out, &in);
    if (ZSTD_isError(rc))
        return fail(zstdReason(rc, m_file.size));
    const qint64 fresh = qint64(out.pos) - m_written;
    m_frameEnded = rc == 0;
    m_stalled = fresh == 0 && rc != 0;
    m_hash->add(QByteArrayView(m_target + m_written, qsizetype(fresh)));
    m_written = qint64(out.pos);
    return true;
}

bool DecodingSink::write(const char* data, qint64 size)
{
    if (m_stream)
        return m_stream->put(data, size);
    return decode(data, size);
}

bool DecodingSink::decode(const char* data, qint64 size)
{
    if (!m_error.isEmpty() || !m_decoder)
        return fail(u"the form was never opened"_s);
    ZSTD_inBuffer in{data, size_t(size), 0};
    while (in.pos < in.size) {
        if (m_frameEnded)
            return fail(u"the form holds bytes after its end"_s);
        if (!step(in))
            return false;
    }
    return true;
}

bool DecodingSink::accepting(std::function<void()> ready)
{
    return BodyWriter::Stream::accepting(m_stream, std::move(ready));
}

void DecodingSink::whenWritten(std::function<void(bool)> done)
{
    BodyWriter::Stream::whenWritten(m_stream, std::move(done));
}

QString DecodingSink::errorString() const
{
    return BodyWriter::Stream::errorOr(m_stream, m_error);
}

std::optional<QString> DecodingSink::finish()
{
    if (m_verdict)
        return *m_verdict;
    m_verdict = judge();
    return *m_verdict;
}

std::optional<QString> DecodingSink::judge()
{
    // Asked once the body has ended and its bytes are decoded (whenWritten).
    if (m_stream && m_stream->failed())
        return m_stream->error();
    if (!m_error.isEmpty())
        return m_error;
    if (!m_decoder)
        return u"the form was never opened"_s;
    // The decoder may still hold output for input it has taken.
    for (ZSTD_inBuffer in{nullptr, 0, 0}; !m_frameEnded;) {
        if (!step(in))
            return m_error;
        if (m_stalled)
            return u"the form ends before its frame does"_s;
    }
    if (m_written != m_file.size)
        return u"the form decodes to %1 bytes, not %2"_s.arg(m_written).arg(m_file.size);
    if (m_hash->result() != m_file.sha256)
        return u"the decoded file does not have the expected SHA-256"_s;
    return std::nullopt;
}

qint64 DecodingSink::decoderBytes() const
{
    return m_decoder ? qint64(ZSTD_sizeof_DCtx(m_decoder->ctx)) : 0;
}

std::unique_ptr<transfer::BodyValidator> DecodingSink::resultCheck()
{
    return std::make_unique<ResultCheck>(*this);
}

} // namespace delta
