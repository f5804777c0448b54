#include "Transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace transfer {

namespace {

// Bytes read from the reply per step; the reply buffers at most its read
// buffer size (set by the caller's request policy) beyond this.
constexpr qint64 PieceSize = 256 * 1024;

bool isConnectionFailure(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::HostNotFoundError:
        return true;
    default:
        return false;
    }
}

} // namespace

Transfer::Transfer(QNetworkAccessManager& manager, BodySink& sink, Validators validators,
                   const Limits& limits, QObject* parent)
    : QObject(parent), m_manager(manager), m_sink(sink), m_validators(std::move(validators)),
      m_limits(limits)
{
    m_floor.setSingleShot(false);
    connect(&m_floor, &QTimer::timeout, this, [this] {
        if (m_received - m_floorMark < m_limits.floorBytes) {
            fail(Outcome::TimedOut,
                 u"less than %1 bytes arrived in %2 ms"_s.arg(m_limits.floorBytes)
                     .arg(m_limits.inactivity.count()));
            return;
        }
        m_floorMark = m_received;
    });
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        fail(Outcome::TimedOut, u"nothing arrived for %1 ms"_s.arg(m_limits.inactivity.count()));
    });
}

Transfer::~Transfer()
{
    dropReply();
}

void Transfer::start(const QNetworkRequest& request, qint64 rangeFrom)
{
    m_rangeFrom = rangeFrom;
    m_reply = m_manager.get(request);
    m_reply->setReadBufferSize(1 << 20); // bounded memory whatever the file's size
    const auto touch = [this] {
        if (m_idle.isActive())
            m_idle.start(m_limits.inactivity);
    };
    connect(m_reply, &QNetworkReply::metaDataChanged, this, touch);
    connect(m_reply, &QNetworkReply::redirected, this, [this, touch] {
        m_redirected = true;
        touch();
    });
    connect(m_reply, &QNetworkReply::encrypted, this, touch);
    connect(m_reply, &QNetworkReply::readyRead, this, [this, touch] {
        touch();
        onReadyRead();
    });
    connect(m_reply, &QNetworkReply::finished, this, &Transfer::onFinished);
    m_idle.start(m_limits.inactivity);
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

// The head is judged with the first body bytes or at the end, whichever comes
// first: redirects are followed inside the reply before either.
bool Transfer::acceptHead()
{
    if (m_headAccepted)
        return true;
    const HeadVerdict verdict = judgeHead(*m_reply, m_redirected, m_rangeFrom);
    m_head = verdict.head;
    if (verdict.refusal) {
        fail(m_head.status == 200 ? Outcome::Refused : Outcome::HttpError, *verdict.refusal);
        return false;
    }
    if (!m_sink.open(m_head)) {
        fail(Outcome::WriteFailed, m_sink.errorString());
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
            fail(Outcome::Refused, refusal.value_or(u"the part file cannot be read"_s));
            return false;
        }
    }
    emit headAccepted();
    m_headAccepted = true;
    m_floorMark = m_received;
    m_floor.start(m_limits.inactivity);
    return true;
}

void Transfer::onReadyRead()
{
    if (m_outcome != Outcome::Running || !m_reply)
        return;
    if (!m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return;
    if (!acceptHead())
        return;
    drain();
}

void Transfer::drain()
{
    char buffer[16 * 1024];
    qint64 before = m_received;
    while (m_outcome == Outcome::Running && m_reply && m_reply->bytesAvailable() > 0) {
        const qint64 n = m_reply->read(buffer, qMin<qint64>(sizeof buffer, PieceSize));
        if (n <= 0)
            break;
        if (m_head.declaredLength >= 0 && m_received + n > m_head.declaredLength) {
            fail(Outcome::Refused, u"body longer than its Content-Length"_s);
            return;
        }
        for (const auto& validator : m_validators) {
            if (const auto reason = validator->feed(buffer, n)) {
                fail(Outcome::Refused, *reason);
                return;
            }
        }
        if (!m_sink.write(buffer, n)) {
            fail(Outcome::WriteFailed, m_sink.errorString());
            return;
        }
        m_received += n;
    }
    if (m_received != before) {
        const qint64 offset = std::max<qint64>(m_head.resumedAt, 0);
        emit progressed(offset + m_received,
                        m_head.declaredLength < 0 ? -1 : offset + m_head.declaredLength);
    }
}

void Transfer::onFinished()
{
    if (m_outcome != Outcome::Running || !m_reply)
        return;
    m_idle.stop();
    m_floor.stop();
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool hasStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (hasStatus && (error == QNetworkReply::NoError || !m_headAccepted)) {
        if (!acceptHead())
            return;
        drain();
        if (m_outcome != Outcome::Running)
            return;
    }
    if (error != QNetworkReply::NoError) {
        fail(isConnectionFailure(error) ? Outcome::NetworkError : Outcome::Refused,
             m_reply->errorString());
        return;
    }
    const bool sizeKnown = std::any_of(m_validators.cbegin(), m_validators.cend(),
                                       [](const auto& v) { return v->provesLength(); });
    if (const auto reason = judgeEnd(*m_reply, m_head, m_received, sizeKnown)) {
        fail(Outcome::Refused, *reason);
        return;
    }
    for (const auto& validator : m_validators) {
        if (const auto reason = validator->finish()) {
            fail(Outcome::Refused, *reason);
            return;
        }
    }
    end(Outcome::Complete);
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
    m_idle.stop();
    m_floor.stop();
    dropReply();
    emit finished();
}

void Transfer::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply* reply = std::exchange(m_reply, nullptr);
    disconnect(reply, nullptr, this, nullptr);
    // May run inside one of the reply's own signals: abort and delete once
    // that signal is done.
    if (!reply->isFinished())
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    reply->deleteLater();
}

} // namespace transfer
