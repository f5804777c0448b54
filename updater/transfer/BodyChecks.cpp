#include "BodyChecks.h"

#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Qt::StringLiterals;

namespace transfer {

std::optional<QString> SizeLimit::feed(const char*, qint64 size)
{
    m_seen += size;
    if (m_seen > m_limit)
        return u"body passes %1 bytes"_s.arg(m_limit);
    return std::nullopt;
}

HeadVerdict judgeHead(const QNetworkReply& reply)
{
    HeadVerdict verdict;
    verdict.head.status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (verdict.head.status != 200) {
        verdict.refusal = u"HTTP status %1"_s.arg(verdict.head.status);
        return verdict;
    }
    // We ask for identity; a coded body would be stored as its coded bytes.
    const QByteArray coding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!coding.isEmpty() && coding != "identity") {
        verdict.refusal = u"content coding %1"_s.arg(QString::fromLatin1(coding));
        return verdict;
    }
    const QByteArray length = reply.rawHeader("Content-Length").trimmed();
    if (!length.isEmpty()) {
        bool ok = false;
        const qlonglong value = length.toLongLong(&ok);
        if (!ok || value < 0) {
            verdict.refusal = u"unusable Content-Length"_s;
            return verdict;
        }
        verdict.head.declaredLength = value;
    }
    return verdict;
}

std::optional<QString> judgeEnd(const QNetworkReply& reply, const Head& head, qint64 received)
{
    if (head.declaredLength >= 0) {
        if (received != head.declaredLength)
            return u"%1 of %2 bytes arrived"_s.arg(received).arg(head.declaredLength);
        return std::nullopt;
    }
    if (reply.attribute(QNetworkRequest::Http2WasUsedAttribute).toBool())
        return std::nullopt;
    if (reply.rawHeader("Transfer-Encoding").toLower().contains("chunked"))
        return std::nullopt;
    return u"no length and no end marker: the body may be cut short"_s;
}

} // namespace transfer
