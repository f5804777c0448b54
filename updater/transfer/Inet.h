#pragma once

// The updater's transfer layer: one network manager for the whole run, so
// connections to the site are reused, and the policy every transfer follows
// (time-outs, retries, trusted authorities). Transfers are made here and run
// side by side over the one manager.

#include "Transfer.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>

class Inet : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultInactivityTimeout{60'000};
    static constexpr int MaxRedirects = 10;

    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    // A started GET of `url` whose accepted body goes to `sink`. With
    // `rangeFrom` >= 0 only the rest from that byte is asked for, and only if
    // the file is still the one `validator` (ETag or Last-Modified) names.
    std::unique_ptr<transfer::Transfer> start(const QUrl& url, transfer::BodySink& sink,
                                              transfer::Validators validators = {},
                                              qint64 rangeFrom = -1,
                                              const QByteArray& validator = {});

    void setInactivityTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds inactivityTimeout() const { return m_limits.inactivity; }

    // Pauses before the second and third try of a file that failed for a
    // passing reason; each is stretched or shrunk by up to a fifth at random.
    void setRetryDelays(std::vector<std::chrono::milliseconds> delays);
    const std::vector<std::chrono::milliseconds>& retryDelays() const { return m_retryDelays; }

    // Certificate authorities trusted in addition to the system's (tests).
    // Certificate checks stay on.
    void setExtraCaCertificates(const QList<QSslCertificate>& certificates);

    static QByteArray userAgent();

private:
    QNetworkAccessManager m_manager;
    transfer::Limits m_limits;
    std::vector<std::chrono::milliseconds> m_retryDelays;
    QList<QSslCertificate> m_extraCas;
};
