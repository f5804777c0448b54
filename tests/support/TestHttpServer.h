#pragma once

// A scriptable HTTP/1.1 server for tests, listening on 127.0.0.1 on a free
// port. Each path gets a canned response; the server can delay, stall, drop
// the connection, omit Content-Length, use chunked encoding, redirect, or send
// for ever, and it records every request it receives.
//
//   testsupport::TestHttpServer server;
//   QVERIFY(server.listen());
//   server.setResponse(u"/info.ini"_s, CannedResponse::ok(bytes));
//   CannedResponse slow = CannedResponse::ok(body);
//   slow.stallAfter = 1000;                 // stop after 1000 body bytes for ever
//   server.setResponse(u"/big.dat"_s, slow);
//   ... point the client at server.baseUrl() ...
//   QCOMPARE(server.requestedPaths(), QStringList{u"/info.ini"_s});
//
// The server lives on the thread that created it: it only answers while that
// thread runs an event loop (QTest::qWait, QSignalSpy::wait, or any local
// loop of the code under test). Connections are kept alive between requests
// unless a response says otherwise. Unknown paths get 404 (see setFallback).

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTcpServer;

namespace testsupport {

struct CannedResponse
{
    // How the end of the body is marked.
    enum class Framing
    {
        ContentLength,  // "Content-Length" header (value: declaredLength, or the body's size)
        CloseDelimited, // no length at all; the connection is closed after the body
        Chunked,        // "Transfer-Encoding: chunked"
    };

    int status = 200;
    QByteArray reason; // empty: the usual phrase for the status
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    Framing framing = Framing::ContentLength;
    qint64 declaredLength = -1; // Content-Length sent; -1 sends body.size()

    int headerDelayMs = 0;     // wait this long before sending anything
    bool noAnswer = false;     // read the request and never answer
    qint64 stallAfter = -1;    // after this many body bytes, send nothing ...
    int stallForMs = -1;       // ... for this long (-1: for ever)
    qint64 dropAfter = -1;     // close the connection after this many body bytes
    bool endless = false;      // after the body, keep sending filler until the peer goes
    int pieceSize = 16 * 1024; // body written in pieces of this size (= chunk size)
    int pieceDelayMs = 0;      // pause after each piece (a slow but steady sender)

    static CannedResponse ok(QByteArray body);
    static CannedResponse withStatus(int status, QByteArray body);
    static CannedResponse redirect(const QByteArray& location, int status = 302);
};

struct ReceivedRequest
{
    QByteArray method;
    QByteArray target; // as sent, percent-encoding included
    QString path;      // decoded path of the target, without query
    QList<QPair<QByteArray, QByteArray>> headers;
    int connection = 0; // which accepted connection carried it, counting from 1

    // A header value by name (any letter case); empty when absent.
    QByteArray header(const QByteArray& name) const;
};

class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Plain HTTP on 127.0.0.1 and a free port.
    bool listen();
    // HTTPS with the given certificate and key (QSslServer).
    bool listenTls(const QSslCertificate& certificate, const QSslKey& key);
    // Stops listening and drops every open connection; the port then refuses.
    void close();

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>/" (or "https://...").
    QString baseUrl() const;

    // Response for a decoded path ("/info.ini", "/my file.dat").
    void setResponse(const QString& path, const CannedResponse& response);
    void setFile(const QString& path, const QByteArray& body);
    void removeResponse(const QString& path);
    // Response for paths without one of their own (default: 404 "Not Found").
    void setFallback(const CannedResponse& response);

    QList<ReceivedRequest> requests() const { return m_requests; }
    QStringList requestedPaths() const;
    int requestCount(const QString& path) const;
    void clearRequests() { m_requests.clear(); }
    // Number of TCP connections accepted so far.
    int connectionCount() const { return m_connections; }

    // Called for every request as soon as its head is in, before its response
    // is chosen (so it may change the response for this very request).
    void setOnRequest(std::function<void(const ReceivedRequest&)> callback);

    // Used by the connections.
    CannedResponse responseFor(const QString& path) const;
    void record(const ReceivedRequest& request);

private:
    bool startOn(std::unique_ptr<QTcpServer> server);
    void acceptConnections();

    std::unique_ptr<QTcpServer> m_server;
    quint16 m_port = 0;
    bool m_tls = false;
    int m_connections = 0;
    QHash<QString, CannedResponse> m_responses;
    CannedResponse m_fallback;
    QList<ReceivedRequest> m_requests;
    std::function<void(const ReceivedRequest&)> m_onRequest;
};

} // namespace testsupport
