#include "Inet.h"

#include <QHash>
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

namespace {

// The exit code waitForActivity's loop gets from this class; any other code
// comes from the application ending every loop.
constexpr int WakeCode = 1;

// The system's proxy settings (per manager, no global). Asking the system can
// mean a round trip to a helper thread, so each site is asked once per run:
// an update of many small files would otherwise spend much of its time here.
class SystemProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QUrl url = query.url();
        const QString site = url.scheme() + u' ' + url.host() + u' ' +
                             QString::number(query.peerPort()) + u' ' +
                             QString::number(int(query.queryType()));
        QMutexLocker lock(&m_mutex); // the manager may ask from its own threads
        const auto known = m_answers.constFind(site);
        if (known != m_answers.cend())
            return *known;
        const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(query);
        m_answers.insert(site, proxies);
        return proxies;
    }

private:
    QMutex m_mutex;
    QHash<QString, QList<QNetworkProxy>> m_answers;
};

} // namespace

Inet::Inet(QObject* parent) : QObject(parent)
{
    m_manager.setProxyFactory(new SystemProxyFactory); // the manager owns it
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_outcome != Outcome::Running || !m_reply)
            return;
        m_outcome = Outcome::TimedOut;
        m_error = QStringLiteral("No data for %1 ms").arg(m_timeout.count());
        m_reply->abort();
        wake();
    });
}

Inet::~Inet()
{
    dropReply();
}

QByteArray Inet::userAgent()
{
    return QByteArrayLiteral("Quorvane/" QV_VERSION_STRING);
}

void Inet::setInactivityTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
}

void Inet::setExtraCaCertificates(const QList<QSslCertificate>& certificates)
{
    m_extraCas = certificates;
}

void Inet::dropReply()
{
    m_idleTimer.stop();
    if (!m_reply)
        return;
    disconnect(m_reply, nullptr, this, nullptr);
    if (!m_reply->isFinished())
        m_reply->abort();
    // Never called from inside one of the reply's own signals, so a direct
    // delete is safe and keeps finished replies from piling up in long runs.
    delete m_reply;
    m_reply = nullptr;
}

void Inet::Execute(const QUrl& url, const QByteArray& operation)
{
    dropReply();
    m_error.clear();
    if (operation != "GET") {
        m_outcome = Outcome::Failed;
        m_error = QStringLiteral("Unsupported operation");
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    // Files are stored exactly as served; also keeps Content-Length meaningful.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
    if (!m_extraCas.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_extraCas);
        request.setSslConfiguration(ssl);
    }

    m_outcome = Outcome::Running;
    m_reply = m_manager.get(request);
    m_reply->setReadBufferSize(ReadBufferSize);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        touch();
        wake();
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        touch();
        wake();
    });
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Inet::touch);
    connect(m_reply, &QNetworkReply::redirected, this, &Inet::touch);
    connect(m_reply, &QNetworkReply::encrypted, this, &Inet::touch);
    connect(m_reply, &QNetworkReply::finished, this, &Inet::finishRequest);
    m_idleTimer.start(m_timeout);
    if (m_reply->isFinished())
        finishRequest();
}

void Inet::touch()
{
    if (m_idleTimer.isActive())
        m_idleTimer.start(m_timeout);
}

void Inet::wake()
{
    if (m_wait)
        m_wait->exit(WakeCode);
}

void Inet::finishRequest()
{
    m_idleTimer.stop();
    if (m_outcome == Outcome::Running) {
        if (m_reply && m_reply->error() == QNetworkReply::NoError) {
            m_outcome = Outcome::Succeeded;
        } else {
            m_outcome = Outcome::Failed;
            m_error = m_reply ? m_reply->errorString() : QStringLiteral("No reply");
        }
    }
    wake();
}

bool Inet::StillExecuting() const
{
    return m_outcome == Outcome::Running;
}

QString Inet::GetHeader(const QString& name) const
{
    if (!m_reply)
        return {};
    return QString::fromLatin1(m_reply->rawHeader(name.toLatin1()));
}

bool Inet::hasResponse() const
{
    return m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

int Inet::statusCode() const
{
    return m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

qint64 Inet::bytesAvailable() const
{
    return m_reply && m_reply->isOpen() ? m_reply->bytesAvailable() : 0;
}

QByteArray Inet::GetChunk(qint64 maxBytes)
{
    return m_reply && m_reply->isOpen() ? m_reply->read(maxBytes) : QByteArray();
}

qint64 Inet::readChunk(char* buffer, qint64 maxBytes)
{
    if (!m_reply || !m_reply->isOpen())
        return 0;
    const qint64 n = m_reply->read(buffer, maxBytes);
    return n < 0 ? 0 : n;
}

void Inet::Cancel()
{
    if (m_outcome != Outcome::Running)
        return;
    m_outcome = Outcome::Cancelled;
    m_error = QStringLiteral("Cancelled");
    m_idleTimer.stop();
    if (m_reply)
        m_reply->abort();
    wake();
}

bool Inet::waitForActivity()
{
    if (m_outcome != Outcome::Running)
        return true;
    // The run stays on the GUI thread and waits here in a local event loop
    // rather than on a worker thread: the window's status fields are written
    // directly as the single-threaded design has it, the thread sleeps in the
    // event dispatcher until the socket, the time-out or a window event wakes
    // it (no polling), and the quit action arrives as an ordinary event during
    // this wait and cancels the transfer through requestQuit().
    QEventLoop loop;
    m_wait = &loop;
    const int result = loop.exec();
    m_wait = nullptr;
    return result == WakeCode;
}
