#include "Inet.h"

#include <QHash>
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

namespace {

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

Inet::Inet(QObject* parent)
    : QObject(parent), m_retryDelays{std::chrono::milliseconds(500),
                                     std::chrono::milliseconds(2000)}
{
    m_manager.setProxyFactory(new SystemProxyFactory); // the manager owns it
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

Inet::~Inet() = default;

QByteArray Inet::userAgent()
{
    return QByteArrayLiteral("Quorvane/" QV_VERSION_STRING);
}

void Inet::setInactivityTimeout(std::chrono::milliseconds timeout)
{
    m_limits.inactivity = timeout;
}

void Inet::setRetryDelays(std::vector<std::chrono::milliseconds> delays)
{
    m_retryDelays = std::move(delays);
}

void Inet::setExtraCaCertificates(const QList<QSslCertificate>& certificates)
{
    m_extraCas = certificates;
}

std::unique_ptr<transfer::Transfer> Inet::start(const QUrl& url, transfer::BodySink& sink,
                                                transfer::Validators validators, qint64 rangeFrom,
                                                const QByteArray& validator)
{
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
    if (rangeFrom >= 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(rangeFrom) + '-');
        if (!validator.isEmpty())
            request.setRawHeader("If-Range", validator);
    }
    auto transfer =
        std::make_unique<transfer::Transfer>(m_manager, sink, std::move(validators), m_limits);
    transfer->start(request, rangeFrom);
    return transfer;
}
