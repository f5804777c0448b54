#pragma once

// What a transfer asks for and under which policy, turned into libcurl
// options. The platform seam decides where trusted authorities and proxies
// come from.

#include "BodyChecks.h"

#include <QByteArray>
#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <optional>

namespace transfer {

struct Limits
{
    // Nothing at all arriving for this long fails the transfer; so does an
    // average below `floorBytes` per such span.
    std::chrono::milliseconds inactivity{60'000};
    qint64 floorBytes = 1024;
};

// Where the system's trusted authorities and proxy settings come from. The
// default leaves both to libcurl: the system's certificate bundle, and the
// http_proxy, https_proxy and no_proxy variables as curl reads them. Another
// system (its own certificate store, its own proxy settings) overrides it.
class NetworkPlatform
{
public:
    virtual ~NetworkPlatform() = default;
    // Called for every transfer before it starts.
    virtual bool configure(CURL* easy, const QUrl& url) const
    {
        (void)easy;
        (void)url;
        return true;
    }
};

struct Request
{
    QUrl url;
    qint64 rangeFrom = -1; // >= 0: only the rest from this byte ...
    QByteArray ifRange;    // ... and only if the file is still this one
    QByteArray userAgent;
    Limits limits;
    int maxRedirects = 10;
    // Authorities trusted besides the system's (tests, benchmarks), in PEM;
    // must outlive the transfer.
    const QByteArray* extraCaPem = nullptr;
    const NetworkPlatform* platform = nullptr;
};

struct HeaderListFree
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

// Sets every option of `request` on `easy`; `headers` receives the request's
// header list, which must live as long as the handle uses it. `sizeCap`: the
// largest body the checks accept. False when an option was refused.
bool configureRequest(CURL* easy, const Request& request, std::optional<qint64> sizeCap,
                      HeaderList& headers);

} // namespace transfer
