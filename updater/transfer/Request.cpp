#include "Request.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

namespace transfer {

namespace {

// Adds the authorities of `pem` to the ones curl loaded from the system.
CURLcode trustExtra(CURL*, void* sslContext, void* pem)
{
    const auto* text = static_cast<const QByteArray*>(pem);
    const std::unique_ptr<BIO, decltype(&BIO_free)> input(
        BIO_new_mem_buf(text->constData(), int(text->size())), &BIO_free);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (!input || !store)
        return CURLE_SSL_CERTPROBLEM;
    while (X509* certificate = PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store, certificate); // a repeat is harmless
        X509_free(certificate);
    }
    return CURLE_OK;
}

bool setLong(CURL* easy, CURLoption option, long value)
{
    return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

bool setText(CURL* easy, CURLoption option, const QByteArray& value)
{
    return curl_easy_setopt(easy, option, value.constData()) == CURLE_OK; // curl copies it
}

// Time-outs: a connection that does not open in time, and a body whose
// average stays below the floor for a whole span (nothing at all included).
bool setLimits(CURL* easy, const Limits& limits)
{
    const long spanMs = std::max<long>(long(limits.inactivity.count()), 1);
    const long spanSeconds = std::max<long>((spanMs + 999) / 1000, 1);
    const long floorPerSecond =
        std::max<long>(long(limits.floorBytes * 1000 / std::max<long>(spanMs, 1000)), 1);
    return setLong(easy, CURLOPT_CONNECTTIMEOUT_MS, spanMs) &&
           setLong(easy, CURLOPT_LOW_SPEED_TIME, spanSeconds) &&
           setLong(easy, CURLOPT_LOW_SPEED_LIMIT, floorPerSecond);
}

} // namespace

bool configureRequest(CURL* easy, const Request& request, std::optional<qint64> sizeCap,
                      HeaderList& headers)
{
    const bool secure = request.url.scheme() == QLatin1String("https");
    bool ok = setText(easy, CURLOPT_URL, request.url.toEncoded()) &&
              setText(easy, CURLOPT_PROTOCOLS_STR, "http,https") &&
              // Never from https to http: a secure start stays secure.
              setText(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") &&
              setLong(easy, CURLOPT_FOLLOWLOCATION, 1) &&
              setLong(easy, CURLOPT_MAXREDIRS, request.maxRedirects) &&
              setLong(easy, CURLOPT_NOSIGNAL, 1) &&
              setText(easy, CURLOPT_USERAGENT, request.userAgent) &&
              setLimits(easy, request.limits) &&
              // HTTP/2 only where TLS negotiates it; one connection then
              // carries many files, so wait for it rather than open more.
              setLong(easy, CURLOPT_HTTP_VERSION,
                      secure ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_1) &&
              setLong(easy, CURLOPT_PIPEWAIT, secure ? 1 : 0) &&
              setLong(easy, CURLOPT_SSL_VERIFYPEER, 1) && setLong(easy, CURLOPT_SSL_VERIFYHOST, 2);
    if (sizeCap)
        ok = ok &&
             curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(*sizeCap)) == CURLE_OK;
    // Bigger reads for big files: fewer calls per byte.
    if (!sizeCap || *sizeCap >= (1 << 20))
        ok = ok && setLong(easy, CURLOPT_BUFFERSIZE, 256 * 1024);
    if (request.rangeFrom >= 0)
        ok = ok && setText(easy, CURLOPT_RANGE, QByteArray::number(request.rangeFrom) + '-');
    if (request.extraCaPem && !request.extraCaPem->isEmpty()) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &trustExtra) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, request.extraCaPem) == CURLE_OK;
    }
    // Files are stored exactly as served; also keeps Content-Length meaningful.
    curl_slist* list = curl_slist_append(nullptr, "Accept-Encoding: identity");
    if (list && request.rangeFrom >= 0 && !request.ifRange.isEmpty())
        list = curl_slist_append(list, QByteArray("If-Range: " + request.ifRange).constData());
    headers.reset(list);
    ok = ok && list && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list) == CURLE_OK;
    if (request.platform)
        ok = ok && request.platform->configure(easy, request.url);
    return ok;
}

} // namespace transfer
