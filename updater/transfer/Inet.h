#pragma once

// The updater's transfer layer: one libcurl engine for the whole run, so
// connections to the site are reused, and the policy every transfer follows
// (time-outs, retries, connections, trusted authorities). Transfers are made
// here and run side by side on the one engine.
//
// Threading: everything happens on the thread that owns the Inet, driven by
// that thread's event loop (socket notifiers and a timer; no thread of its
// own). Body sinks are called there, inside libcurl's receive callback, and
// the transfers' signals are emitted there, outside any libcurl callback.
// The work per turn of the loop stays short: a round of socket work hands at
// most Engine::RoundBudget bytes to the sinks, and a sink may write behind on
// a thread of its own (BodyWriter), pausing its transfer while it is full.

#include "Engine.h"
#include "Request.h"
#include "Transfer.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
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
    static constexpr int DefaultConnections = 4;
    // Transfers worth starting at once over HTTP/2, which multiplexes them
    // all; over HTTP/1.1 the run starts no more than `connections()`.
    static constexpr int MaxInFlight = transfer::Engine::MaxStreams;

    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    // A started GET of `url` whose accepted body goes to `sink`. With
    // `rangeFrom` >= 0 only the rest from that byte is asked for, and only if
    // the file is still the one `validator` (ETag or Last-Modified) names.
    std::unique_ptr<transfer::Transfer> start(const QUrl& url, transfer::BodySink& sink,
                                              transfer::Validators validators = {},
                                              qint64 rangeFrom = -1,
                                              const QByteArray& validator = {});

    // Whether a transfer from the origin (scheme, host and port) of `url` was
    // answered over HTTP/2: many files may then start at once on its connection.
    bool multiplexes(const QUrl& url) const { return m_multiplexed.contains(originOf(url)); }

    void setInactivityTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds inactivityTimeout() const { return m_limits.inactivity; }

    // HTTP/1.1 connections per host (1 to 16).
    void setConnections(int connections);
    int connections() const { return m_connections; }

    // Pauses before the second and third try of a file that failed for a
    // passing reason; each is stretched or shrunk by up to a fifth at random.
    void setRetryDelays(std::vector<std::chrono::milliseconds> delays);
    const std::vector<std::chrono::milliseconds>& retryDelays() const { return m_retryDelays; }

    // Certificate authorities (PEM) trusted in addition to the system's, for
    // tests and benchmarks; nothing in the program calls it. Checks stay on.
    void trustExtraCertificates(const QByteArray& pem);

    // Where trusted authorities and proxies come from (default: libcurl's
    // own reading of the system bundle and the proxy variables).
    void setPlatform(std::unique_ptr<transfer::NetworkPlatform> platform);

    static QByteArray userAgent();

private:
    static QString originOf(const QUrl& url);

    transfer::Engine m_engine;
    QSet<QString> m_multiplexed; // origins that answered over HTTP/2
    transfer::Limits m_limits;
    int m_connections = DefaultConnections;
    std::vector<std::chrono::milliseconds> m_retryDelays;
    QByteArray m_extraCaPem;
    std::unique_ptr<transfer::NetworkPlatform> m_platform;
};
