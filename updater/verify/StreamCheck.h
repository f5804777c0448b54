#pragma once

// Size and SHA-256 of a download, checked as its bytes arrive: a sink feeds
// every chunk, learns at once when the body passes the expected size (so the
// transfer can be aborted), and asks for the verdict when the body has ended.
// A resumed download feeds the bytes it already has first.

#include "Outcome.h"
#include "Sha256.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace verify {

enum class StreamVerdict
{
    Ok,
    TooLong,
    TooShort,
    HashMismatch
};

struct StreamResult
{
    StreamVerdict verdict = StreamVerdict::Ok;
    QString reason; // empty when ok

    bool ok() const { return verdict == StreamVerdict::Ok; }
};

class StreamCheck
{
public:
    // Either expectation may be absent; the hash is the 32 raw bytes.
    StreamCheck(std::optional<qint64> expectedSize, std::optional<QByteArray> expectedSha256);

    // Takes the next bytes. False once the body is longer than the expected
    // size; later bytes are then ignored.
    bool feed(QByteArrayView bytes);
    bool exceeded() const { return m_exceeded; }
    qint64 received() const { return m_received; }
    std::optional<qint64> expectedSize() const { return m_expectedSize; }

    // The verdict on the body fed so far, taken as complete.
    StreamResult finish() const;
    // SHA-256 of the bytes fed so far.
    QByteArray sha256() const { return m_hash.result(); }

private:
    std::optional<qint64> m_expectedSize;
    std::optional<QByteArray> m_expectedSha256;
    Sha256 m_hash;
    qint64 m_received = 0;
    bool m_exceeded = false;
};

} // namespace verify
