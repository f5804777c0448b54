#include "StreamCheck.h"

using namespace Qt::StringLiterals;

namespace verify {

StreamCheck::StreamCheck(std::optional<qint64> expectedSize,
                         std::optional<QByteArray> expectedSha256)
    : m_expectedSize(expectedSize), m_expectedSha256(std::move(expectedSha256))
{}

bool StreamCheck::feed(QByteArrayView bytes)
{
    if (m_exceeded)
        return false;
    if (m_expectedSize && bytes.size() > *m_expectedSize - m_received) {
        m_exceeded = true;
        m_received += bytes.size();
        return false;
    }
    m_received += bytes.size();
    m_hash.add(bytes);
    return true;
}

StreamResult StreamCheck::finish() const
{
    if (m_exceeded)
        return {StreamVerdict::TooLong,
                u"the body is longer than the %1 bytes expected"_s.arg(*m_expectedSize)};
    if (m_expectedSize && m_received < *m_expectedSize)
        return {StreamVerdict::TooShort,
                u"the body ended after %1 of %2 bytes"_s.arg(m_received).arg(*m_expectedSize)};
    const QByteArray digest = m_expectedSha256 ? m_hash.result() : QByteArray();
    if (m_expectedSha256 && digest != *m_expectedSha256)
        return {StreamVerdict::HashMismatch, u"SHA-256 %1 does not match the expected %2"_s.arg(
                                                 QString::fromLatin1(digest.toHex()),
                                                 QString::fromLatin1(m_expectedSha256->toHex()))};
    return {StreamVerdict::Ok, {}};
}

} // namespace verify
