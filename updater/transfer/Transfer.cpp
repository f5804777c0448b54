#include "Transfer.h"

#include "Engine.h"

#include <QPointer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace transfer {

namespace {

Outcome outcomeOf(CURLcode result)
{
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return Outcome::TimedOut;
    case CURLE_WRITE_ERROR:
        return Outcome::WriteFailed;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE: // a short Content-Length body, or a cut chunked one
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
        return Outcome::NetworkError;
    default: // a refused certificate, redirect or size: trying again changes nothing
        return Outcome::Refused;
    }
}

} // namespace

Transfer::Transfer(Engine& engine, BodySink& sink, Validators validators, QObject* parent)
    : QObject(parent), m_engine(&engine), m_sink(sink), m_validators(std::move(validators))
{
    engine.attach(*this);
}

Transfer::~Transfer()
{
    if (m_engine)
        m_engine->detach(*this);
}

std::optional<qint64> Transfer::sizeCap() const
{
    std::optional<qint64> cap;
    for (const auto& validator : m_validators) {
        if (const auto bound = validator->sizeCap())
            cap = std::min(cap.value_or(*bound), *bound);
    }
    return cap;
}

void Transfer::start(const Request& request)
{
    m_rangeFrom = request.rangeFrom;
    m_easy.reset(curl_easy_init());
    CURL* easy = m_easy.get();
    bool ready = easy && configureRequest(easy, request, sizeCap(), m_headers);
    if (ready) {
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_error);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        ready = m_engine && m_engine->add(*this);
    }
    if (!ready) {
        // Ends from the event loop, as any other transfer does.
        QMetaObject::invokeMethod(
            this, [this] { fail(Outcome::Refused, u"the request could not be set up"_s); },
            Qt::QueuedConnection);
    }
}

void Transfer::cancel()
{
    if (m_outcome == Outcome::Running)
        fail(Outcome::Cancelled, u"cancelled"_s);
}

bool Transfer::isTransient() const
{
    if (m_outcome == Outcome::TimedOut || m_outcome == Outcome::NetworkError)
        return true;
    return m_outcome == Outcome::HttpError && m_head.status >= 500 && m_head.status <= 599;
}

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* self)
{
    static_cast<Transfer*>(self)->takeHeaderLine(QByteArrayView(data, qsizetype(size * count)));
    return size * count;
}

size_t Transfer::onBody(char* data, size_t size, size_t count, void* self)
{
    const size_t bytes = size * count;
    if (bytes == 0)
        return 0;
    auto* transfer = static_cast<Transfer*>(self);
    // Over HTTP/2 a pause closes the stream's window and costs a round trip
    // to reopen: those bodies are not held to the round's budget.
    if (transfer->pauseForSink() || (transfer->m_engine && !transfer->m_multiplexed &&
                                     !transfer->m_engine->spend(*transfer, qint64(bytes))))
        return CURL_WRITEFUNC_PAUSE;
    return transfer->takeBody(data, qint64(bytes)) ? bytes : 0;
}

bool Transfer::pauseForSink()
{
    if (!m_headAccepted || m_verdict != Outcome::Running)
        return false;
    return !m_sink.accepting([alive = QPointer<Transfer>(this)] {
        if (alive && alive->m_engine)
            alive->m_engine->resume(*alive);
    });
}

// Each response of a redirect chain starts with its status line: only the
// last response's fields are kept.
void Transfer::takeHeaderLine(QByteArrayView line)
{
    const QByteArrayView text = line.trimmed();
    if (text.startsWith("HTTP/")) {
        m_response = {};
        m_multiplexed = text.startsWith("HTTP/2") || text.startsWith("HTTP/3");
        const QList<QByteArray> parts = text.toByteArray().split(' ');
        m_response.status = parts.size() > 1 ? parts.at(1).toInt() : 0;
        return;
    }
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0)
        return;
    m_response.fields.append({text.first(colon).trimmed().toByteArray().toLower(),
                              text.sliced(colon + 1).trimmed().toByteArray()});
}

bool Transfer::takeBody(const char* data, qint64 size)
{
    if (m_verdict != Outcome::Running)
        return false;
    if (!m_headAccepted && !acceptHead())
        return false;
    if (m_head.declaredLength >= 0 && m_received + size > m_head.declaredLength) {
        refuse(Outcome::Refused, u"body longer than its Content-Length"_s);
        return false;
    }
    for (const auto& validator : m_validators) {
        if (const auto reason = validator->feed(data, size)) {
            refuse(Outcome::Refused, *reason);
            return false;
        }
    }
    if (!m_sink.write(data, size)) {
        refuse(Outcome::WriteFailed, m_sink.errorString());
        return false;
    }
    m_received += size;
    if (m_engine)
        m_engine->markDirty(*this);
    return true;
}

// The head is judged with the first body bytes or at the end, whichever comes
// first: redirects are followed before either.
bool Transfer::acceptHead()
{
    const HeadVerdict verdict = judgeHead(m_response, m_rangeFrom);
    m_head = verdict.head;
    if (verdict.refusal) {
        refuse(m_head.status == 200 ? Outcome::Refused : Outcome::HttpError, *verdict.refusal);
        return false;
    }
    if (!m_sink.open(m_head)) {
        refuse(Outcome::WriteFailed, m_sink.errorString());
        return false;
    }
    if (m_head.resumedAt >= 0) {
        std::optional<QString> refusal;
        const bool replayed = m_sink.replay([&](const char* data, qint64 size) {
            for (const auto& validator : m_validators) {
                if (!refusal)
                    refusal = validator->feed(data, size);
            }
            return !refusal;
        });
        if (!replayed || refusal) {
            refuse(Outcome::Refused, refusal.value_or(u"the part file cannot be read"_s));
            return false;
        }
    }
    m_headAccepted = true;
    m_headToReport = true;
    if (m_engine)
        m_engine->markDirty(*this);
    return true;
}

void Transfer::report()
{
    if (m_outcome != Outcome::Running)
        return;
    const QPointer<Transfer> alive(this);
    if (std::exchange(m_headToReport, false)) {
        emit headAccepted();
        if (!alive || m_outcome != Outcome::Running)
            return;
    }
    if (m_received == m_reported)
        return;
    m_reported = m_received;
    const qint64 offset = std::max<qint64>(m_head.resumedAt, 0);
    emit progressed(offset + m_received,
                    m_head.declaredLength < 0 ? -1 : offset + m_head.declaredLength);
}

void Transfer::ended(CURLcode result)
{
    const QPointer<Transfer> alive(this);
    report();
    if (alive && m_outcome == Outcome::Running)
        settle(result);
}

Framing Transfer::framing() const
{
    long version = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_HTTP_VERSION, &version);
    if (version == CURL_HTTP_VERSION_2_0 || version == CURL_HTTP_VERSION_3)
        return Framing::Http2Stream;
    if (m_response.value("transfer-encoding").toLower().contains("chunked"))
        return Framing::Chunked;
    if (!m_response.values("content-length").isEmpty())
        return Framing::Length;
    return Framing::Close;
}

// The verdict once curl has ended the transfer: a check's refusal first, then
// curl's own error, then the framing and the whole-body checks.
void Transfer::settle(CURLcode result)
{
    if (m_verdict != Outcome::Running) {
        end(m_verdict);
        return;
    }
    if (result != CURLE_OK) {
        const QString reason = QString::fromUtf8(m_error[0] ? m_error : curl_easy_strerror(result));
        // An error status counts as such even when its body was cut.
        const int status = m_response.status;
        if (!m_headAccepted && status != 0 && status != 200 && status != 206 &&
            result != CURLE_OPERATION_TIMEDOUT) {
            m_head = judgeHead(m_response, m_rangeFrom).head;
            fail(Outcome::HttpError, u"HTTP status %1"_s.arg(status));
            return;
        }
        fail(outcomeOf(result), reason);
        return;
    }
    if (!m_headAccepted) {
        if (!acceptHead()) {
            end(m_verdict);
            return;
        }
        const QPointer<Transfer> alive(this);
        report();
        if (!alive || m_outcome != Outcome::Running)
            return;
    }
    const bool sizeKnown = std::any_of(m_validators.cbegin(), m_validators.cend(),
                                       [](const auto& v) { return v->provesLength(); });
    if (const auto reason = judgeEnd(framing(), m_head, m_received, sizeKnown)) {
        fail(Outcome::Refused, *reason);
        return;
    }
    // Complete only once the bytes are in the file; the body checks judge
    // the end after that, as a sink that decodes behind has only then
    // taken every byte.
    m_sink.whenWritten([alive = QPointer<Transfer>(this)](bool written) {
        if (!alive || alive->m_outcome != Outcome::Running)
            return;
        if (!written) {
            alive->fail(Outcome::WriteFailed, alive->m_sink.errorString());
            return;
        }
        for (const auto& validator : alive->m_validators) {
            if (const auto reason = validator->finish()) {
                alive->fail(Outcome::Refused, *reason);
                return;
            }
        }
        alive->end(Outcome::Complete);
    });
}

void Transfer::refuse(Outcome outcome, const QString& reason)
{
    if (m_verdict != Outcome::Running)
        return;
    m_verdict = outcome;
    m_failure = reason;
}

void Transfer::fail(Outcome outcome, const QString& reason)
{
    if (m_outcome != Outcome::Running)
        return;
    m_failure = reason;
    end(outcome);
}

void Transfer::end(Outcome outcome)
{
    m_outcome = outcome;
    if (outcome == Outcome::Complete)
        m_failure.clear();
    if (m_engine)
        m_engine->remove(*this);
    emit finished();
}

} // namespace transfer
