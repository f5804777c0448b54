#pragma once

// The checks that judge a response before its bytes count as a file: the
// head (status, content coding, declared length), every piece of the body as
// it arrives, and the way the body ended. A transfer fails at the first
// check that objects; the reason is kept for the log.

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace verify {
class StreamCheck;
}

namespace transfer {

// One check over the body as it streams in.
class BodyValidator
{
public:
    virtual ~BodyValidator() = default;
    // Sees each piece in order; a reason stops the transfer at once.
    virtual std::optional<QString> feed(const char* data, qint64 size) = 0;
    // Judges the whole body once it ended as its framing says.
    virtual std::optional<QString> finish() = 0;
    // True when finish() alone proves the body whole (it knows the size), so
    // a body without Content-Length may count.
    virtual bool provesLength() const { return false; }
    // The most bytes this check lets through, if it has a bound: the engine
    // refuses a longer declared body before it starts.
    virtual std::optional<qint64> sizeCap() const { return std::nullopt; }
};

// Refuses a body the moment it passes `limit` bytes.
class SizeLimit final : public BodyValidator
{
public:
    explicit SizeLimit(qint64 limit) : m_limit(limit) {}
    std::optional<QString> feed(const char* data, qint64 size) override;
    std::optional<QString> finish() override { return std::nullopt; }
    std::optional<qint64> sizeCap() const override { return m_limit; }

private:
    qint64 m_limit;
    qint64 m_seen = 0;
};

// The size and SHA-256 the manifest gives for a file, checked as the bytes
// arrive: a body that passes the size stops at once.
class ExpectedFile final : public BodyValidator
{
public:
    ExpectedFile(std::optional<qint64> size, std::optional<QByteArray> sha256);
    ~ExpectedFile() override;
    std::optional<QString> feed(const char* data, qint64 size) override;
    std::optional<QString> finish() override;
    bool provesLength() const override { return m_size.has_value(); }
    std::optional<qint64> sizeCap() const override { return m_size; }

private:
    std::optional<qint64> m_size;
    std::unique_ptr<verify::StreamCheck> m_check;
};

using Validators = std::vector<std::unique_ptr<BodyValidator>>;

// What the head of a response says about its body.
struct Head
{
    int status = 0;
    qint64 declaredLength = -1; // -1: no usable Content-Length
    qint64 resumedAt = -1;      // a 206 continuing a part file from this byte; -1: whole body
    QByteArray validator;       // ETag, or else Last-Modified, for a later resume
};

// The status and header fields of the final response (after redirects).
struct ResponseHead
{
    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> fields; // names in lower case

    // Every value of a field, in order.
    QList<QByteArray> values(const QByteArray& lowerName) const;
    // The first value of a field; empty when absent.
    QByteArray value(const QByteArray& lowerName) const;
};

// How the end of a body was marked on the wire.
enum class Framing
{
    Length,      // Content-Length
    Chunked,     // the last chunk of a chunked reply
    Http2Stream, // the end of an HTTP/2 stream
    Close,       // only the connection closing: the body may be cut short
};

// The head of a response if its body may become a file: status 200 and no
// content coding. Otherwise the reason.
struct HeadVerdict
{
    Head head;
    std::optional<QString> refusal;
};
// `rangeFrom`: the byte a Range request asked to continue from (-1: none);
// then a 206 whose Content-Range starts there counts, and a 200 starts over.
HeadVerdict judgeHead(const ResponseHead& response, qint64 rangeFrom = -1);

// After the engine reported that the body ended as its framing says (a cut
// chunked body or a short Content-Length never get here): the body is
// complete when its length matches the declared one. A body ended only by
// the connection closing counts only when a validator knows its size
// (`sizeKnown`).
std::optional<QString> judgeEnd(Framing framing, const Head& head, qint64 received, bool sizeKnown);

} // namespace transfer
