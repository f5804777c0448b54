#include "Inet.h"

#include <algorithm>

Inet::Inet(QObject* parent)
    : QObject(parent), m_retryDelays{std::chrono::milliseconds(500),
                                     std::chrono::milliseconds(2000)},
      m_platform(std::make_unique<transfer::NetworkPlatform>())
{
    m_engine.setConnectionsPerHost(m_connections);
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

void Inet::setConnections(int connections)
{
    m_connections = std::clamp(connections, 1, 16);
    m_engine.setConnectionsPerHost(m_connections);
}

void Inet::setRetryDelays(std::vector<std::chrono::milliseconds> delays)
{
    m_retryDelays = std::move(delays);
}

void Inet::trustExtraCertificates(const QByteArray& pem)
{
    m_extraCaPem = pem;
}

void Inet::setPlatform(std::unique_ptr<transfer::NetworkPlatform> platform)
{
    m_platform = platform ? std::move(platform) : std::make_unique<transfer::NetworkPlatform>();
}

std::unique_ptr<transfer::Transfer> Inet::start(const QUrl& url, transfer::BodySink& sink,
                                                transfer::Validators validators, qint64 rangeFrom,
                                                const QByteArray& validator)
{
    transfer::Request request;
    request.url = url;
    // A validator that would break the header line cannot guard a resume.
    const bool usable = !validator.contains('\r') && !validator.contains('\n');
    request.rangeFrom = usable ? rangeFrom : -1;
    request.ifRange = validator;
    request.userAgent = userAgent();
    request.limits = m_limits;
    request.maxRedirects = MaxRedirects;
    request.extraCaPem = &m_extraCaPem;
    request.platform = m_platform.get();
    auto transfer = std::make_unique<transfer::Transfer>(m_engine, sink, std::move(validators));
    connect(transfer.get(), &transfer::Transfer::headAccepted, this,
            [this, origin = originOf(url), started = transfer.get()] {
                if (started->multiplexed())
                    m_multiplexed.insert(origin);
            });
    transfer->start(request);
    return transfer;
}

QString Inet::originOf(const QUrl& url)
{
    return url
        .adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                  QUrl::RemoveUserInfo)
        .toString();
}
