#include "BodyChecks.h"

#include "StreamCheck.h"

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

// Repeated values, in one field or several, must all agree.
std::optional<qint64> declaredLength(const QList<QByteArray>& fields)
{
    std::optional<qint64> length;
    for (const QByteArray& field : fields) {
        for (const QByteArray& item : field.split(',')) {
            bool ok = false;
            const qlonglong value = item.trimmed().toLongLong(&ok);
            if (!ok || value < 0 || (length && *length != value))
                return std::nullopt;
            length = value;
        }
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

QList<QByteArray> ResponseHead::values(const QByteArray& lowerName) const
{
    QList<QByteArray> found;
    for (const auto& [name, value] : fields) {
        if (name == lowerName)
            found.append(value);
    }
    return found;
}

QByteArray ResponseHead::value(const QByteArray& lowerName) const
{
    for (const auto& [name, value] : fields) {
        if (name == lowerName)
            return value;
    }
    return {};
}

HeadVerdict judgeHead(const ResponseHead& reply, qint64 rangeFrom)
{
    HeadVerdict verdict;
    verdict.head.status = reply.status;
    const bool resumed = verdict.head.status == 206 && rangeFrom >= 0;
    if (verdict.head.status != 200 && !resumed) {
        verdict.refusal = u"HTTP status %1"_s.arg(verdict.head.status);
        return verdict;
    }
    if (resumed) {
        if (!rangeStartsAt(reply.value("content-range"), rangeFrom)) {
            verdict.refusal = u"a 206 that does not continue at byte %1"_s.arg(rangeFrom);
            return verdict;
        }
        verdict.head.resumedAt = rangeFrom;
    }
    verdict.head.validator = reply.value("etag").trimmed();
    if (verdict.head.validator.isEmpty())
        verdict.head.validator = reply.value("last-modified").trimmed();
    // We ask for identity; a coded body would be stored as its coded bytes.
    const QByteArray coding = reply.value("content-encoding").trimmed().toLower();
    if (!coding.isEmpty() && coding != "identity") {
        verdict.refusal = u"content coding %1"_s.arg(QString::fromLatin1(coding));
        return verdict;
    }
    const QList<QByteArray> lengths = reply.values("content-length");
    if (!lengths.isEmpty()) {
        const std::optional<qint64> value = declaredLength(lengths);
        if (!value) {
            verdict.refusal =
                u"unusable Content-Length "_s + QString::fromLatin1(lengths.join(", "));
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

std::optional<QString> judgeEnd(Framing framing, const Head& head, qint64 received, bool sizeKnown)
{
    if (head.declaredLength >= 0) {
        if (received != head.declaredLength)
            return u"%1 of %2 bytes arrived"_s.arg(received).arg(head.declaredLength);
        return std::nullopt;
    }
    if (sizeKnown || framing != Framing::Close)
        return std::nullopt;
    return u"no Content-Length: the body may be cut short"_s;
}

} // namespace transfer
