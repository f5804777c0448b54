#include "BodyChecks.h"

#include "StreamCheck.h"

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

namespace {

// Qt 6.4 keeps the headers of a redirect response and joins the final
// response's to them ("0, 5"): after a redirect the last value is the final
// response's. Otherwise repeated values must all agree.
std::optional<qint64> declaredLength(const QByteArray& header, bool redirected)
{
    const QList<QByteArray> values = header.split(',');
    std::optional<qint64> length;
    for (qsizetype i = redirected ? values.size() - 1 : 0; i < values.size(); ++i) {
        bool ok = false;
        const qlonglong value = values.at(i).trimmed().toLongLong(&ok);
        if (!ok || value < 0 || (length && *length != value))
            return std::nullopt;
        length = value;
    }
    return length;
}

} // namespace

// "bytes FIRST-LAST/TOTAL" of a 206 starts at `from`.
bool rangeStartsAt(const QByteArray& contentRange, qint64 from)
{
    const QByteArray value = contentRange.trimmed();
    if (!value.startsWith("bytes "))
        return false;
    const qsizetype dash = value.indexOf('-');
    bool ok = false;
    const qlonglong first = value.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return dash > 6 && ok && first == from;
}

HeadVerdict judgeHead(const QNetworkReply& reply, bool redirected, qint64 rangeFrom)
{
    HeadVerdict verdict;
    verdict.head.status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool resumed = verdict.head.status == 206 && rangeFrom >= 0;
    if (verdict.head.status != 200 && !resumed) {
        verdict.refusal = u"HTTP status %1"_s.arg(verdict.head.status);
        return verdict;
    }
    if (resumed) {
        if (!rangeStartsAt(reply.rawHeader("Content-Range"), rangeFrom)) {
            verdict.refusal = u"a 206 that does not continue at byte %1"_s.arg(rangeFrom);
            return verdict;
        }
        verdict.head.resumedAt = rangeFrom;
    }
    verdict.head.validator = reply.rawHeader("ETag").trimmed();
    if (verdict.head.validator.isEmpty())
        verdict.head.validator = reply.rawHeader("Last-Modified").trimmed();
    // We ask for identity; a coded body would be stored as its coded bytes.
    const QByteArray coding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!coding.isEmpty() && coding != "identity") {
        verdict.refusal = u"content coding %1"_s.arg(QString::fromLatin1(coding));
        return verdict;
    }
    const QByteArray length = reply.rawHeader("Content-Length").trimmed();
    if (!length.isEmpty()) {
        const std::optional<qint64> value = declaredLength(length, redirected);
        if (!value) {
            verdict.refusal = u"unusable Content-Length "_s + QString::fromLatin1(length);
            return verdict;
        }
        verdict.head.declaredLength = *value;
    }
    return verdict;
}

ExpectedFile::ExpectedFile(std::optional<qint64> size, std::optional<QByteArray> sha256)
    : m_size(size), m_check(std::make_unique<verify::StreamCheck>(size, std::move(sha256)))
{}

ExpectedFile::~ExpectedFile() = default;

std::optional<QString> ExpectedFile::feed(const char* data, qint64 size)
{
    if (m_check->feed(QByteArrayView(data, size)))
        return std::nullopt;
    return u"body passes the manifest's FileSize of %1 bytes"_s.arg(*m_size);
}

std::optional<QString> ExpectedFile::finish()
{
    const verify::StreamResult result = m_check->finish();
    if (result.ok())
        return std::nullopt;
    return result.reason;
}

std::optional<QString> judgeEnd(const QNetworkReply& reply, const Head& head, qint64 received,
                                bool sizeKnown)
{
    if (head.declaredLength >= 0) {
        if (received != head.declaredLength)
            return u"%1 of %2 bytes arrived"_s.arg(received).arg(head.declaredLength);
        return std::nullopt;
    }
    if (sizeKnown || reply.attribute(QNetworkRequest::Http2WasUsedAttribute).toBool())
        return std::nullopt;
    return u"no Content-Length: the body may be cut short"_s;
}

} // namespace transfer
