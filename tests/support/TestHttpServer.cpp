#include "TestHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace testsupport {

namespace {

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// One client connection: reads request heads, answers them one at a time.
class Connection : public QObject
{
public:
    Connection(TestHttpServer* server, QTcpSocket* socket, int number)
        : QObject(server), m_server(server), m_socket(socket), m_number(number)
    {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &Connection::readInput);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::pump);
        connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                deleteLater();
        });
        readInput();
    }

    void drop() { m_socket->abort(); }

private:
    void readInput()
    {
        m_input += m_socket->readAll();
        if (m_answering)
            return;
        const qsizetype end = m_input.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = m_input.left(end);
        m_input.remove(0, end + 4);
        handle(head);
    }

    void handle(const QByteArray& head)
    {
        const QList<QByteArray> lines = head.split('\n');
        ReceivedRequest request;
        request.connection = m_number;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        QByteArray rawPath = request.target;
        const qsizetype query = rawPath.indexOf('?');
        if (query >= 0)
            rawPath.truncate(query);
        request.path = QUrl::fromPercentEncoding(rawPath);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        m_answering = true;
        m_server->record(request); // may change responses or close the server
        m_response = m_server->responseFor(request.path);
        if (m_response.noAnswer || m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        QTimer::singleShot(m_response.headerDelayMs, this, &Connection::sendHead);
    }

    void sendHead()
    {
        const CannedResponse& r = m_response;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' +
                          (r.reason.isEmpty() ? reasonFor(r.status) : r.reason) + "\r\n";
        for (const auto& [name, value] : r.headers)
            head += name + ": " + value + "\r\n";
        switch (r.framing) {
        case CannedResponse::Framing::ContentLength:
            head += "Content-Length: " +
                    QByteArray::number(r.declaredLength >= 0 ? r.declaredLength
                                                             : qint64(r.body.size())) +
                    "\r\n";
            break;
        case CannedResponse::Framing::CloseDelimited:
            head += "Connection: close\r\n";
            break;
        case CannedResponse::Framing::Chunked:
            head += "Transfer-Encoding: chunked\r\n";
            break;
        }
        head += "\r\n";
        m_socket->write(head);
        m_sent = 0;
        m_stalled = false;
        pump();
    }

    void pump()
    {
        if (!m_answering || m_stalled || m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        const CannedResponse& r = m_response;
        while (m_socket->bytesToWrite() < 256 * 1024) {
            if (r.dropAfter >= 0 && m_sent >= r.dropAfter) {
                m_socket->flush();
                m_socket->disconnectFromHost();
                m_answering = false;
                return;
            }
            if (r.stallAfter >= 0 && m_sent >= r.stallAfter && !m_stallDone) {
                m_stalled = true;
                m_stallDone = true;
                if (r.stallForMs >= 0) {
                    QTimer::singleShot(r.stallForMs, this, [this] {
                        m_stalled = false;
                        pump();
                    });
                }
                return;
            }
            if (m_sent < r.body.size()) {
                qint64 piece = std::min<qint64>(r.pieceSize, r.body.size() - m_sent);
                if (r.stallAfter > m_sent && !m_stallDone)
                    piece = std::min(piece, r.stallAfter - m_sent);
                const bool chunked = r.framing == CannedResponse::Framing::Chunked;
                // A drop cuts a chunk short: its size line promises the whole piece.
                const qint64 announced = piece;
                if (r.dropAfter > m_sent)
                    piece = std::min(piece, r.dropAfter - m_sent);
                const QByteArray data = r.body.mid(m_sent, piece);
                if (chunked) {
                    m_socket->write(QByteArray::number(announced, 16) + "\r\n" + data +
                                    (piece == announced ? "\r\n" : ""));
                } else {
                    m_socket->write(data);
                }
                m_sent += piece;
                if (r.pieceDelayMs > 0 && m_sent < r.body.size()) {
                    m_stalled = true;
                    QTimer::singleShot(r.pieceDelayMs, this, [this] {
                        m_stalled = false;
                        pump();
                    });
                    return;
                }
                continue;
            }
            if (r.endless) {
                m_socket->write(QByteArray(r.pieceSize, 'x'));
                m_sent += r.pieceSize;
                continue;
            }
            finishResponse();
            return;
        }
    }

    void finishResponse()
    {
        if (m_response.framing == CannedResponse::Framing::Chunked)
            m_socket->write("0\r\n\r\n");
        m_answering = false;
        m_stallDone = false;
        if (m_response.framing == CannedResponse::Framing::CloseDelimited) {
            m_socket->disconnectFromHost();
            return;
        }
        // Keep-alive: the next request may already be buffered.
        if (m_input.contains("\r\n\r\n"))
            QTimer::singleShot(0, this, &Connection::readInput);
    }

    TestHttpServer* m_server;
    QTcpSocket* m_socket;
    QByteArray m_input;
    CannedResponse m_response;
    bool m_answering = false;
    bool m_stalled = false;
    bool m_stallDone = false;
    qint64 m_sent = 0;
    int m_number = 0;
};

} // namespace

CannedResponse CannedResponse::ok(QByteArray body)
{
    CannedResponse r;
    r.body = std::move(body);
    return r;
}

CannedResponse CannedResponse::withStatus(int status, QByteArray body)
{
    CannedResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

CannedResponse CannedResponse::redirect(const QByteArray& location, int status)
{
    CannedResponse r;
    r.status = status;
    r.headers.append({"Location", location});
    return r;
}

QByteArray ReceivedRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent)
{
    m_fallback = CannedResponse::withStatus(404, "Not Found");
}

TestHttpServer::~TestHttpServer()
{
    close();
}

bool TestHttpServer::startOn(std::unique_ptr<QTcpServer> server)
{
    close();
    m_server = std::move(server);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &TestHttpServer::acceptConnections);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    m_port = m_server->serverPort();
    return true;
}

bool TestHttpServer::listen()
{
    m_tls = false;
    return startOn(std::make_unique<QTcpServer>());
}

bool TestHttpServer::listenTls(const QSslCertificate& certificate, const QSslKey& key)
{
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(certificate);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(config);
    m_tls = true;
    return startOn(std::move(server));
}

void TestHttpServer::close()
{
    if (m_server)
        m_server->close();
    const QList<QObject*> children = this->children();
    for (QObject* child : children) {
        if (auto* connection = dynamic_cast<Connection*>(child)) {
            connection->drop();
            connection->deleteLater();
        }
    }
}

QString TestHttpServer::baseUrl() const
{
    return (m_tls ? "https"_L1 : "http"_L1) + "://127.0.0.1:"_L1 + QString::number(m_port) + u'/';
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_connections;
        new Connection(this, socket, m_connections); // owned by this server
    }
}

void TestHttpServer::setResponse(const QString& path, const CannedResponse& response)
{
    m_responses.insert(path, response);
}

void TestHttpServer::setFile(const QString& path, const QByteArray& body)
{
    setResponse(path, CannedResponse::ok(body));
}

void TestHttpServer::removeResponse(const QString& path)
{
    m_responses.remove(path);
}

void TestHttpServer::setFallback(const CannedResponse& response)
{
    m_fallback = response;
}

CannedResponse TestHttpServer::responseFor(const QString& path) const
{
    return m_responses.value(path, m_fallback);
}

void TestHttpServer::record(const ReceivedRequest& request)
{
    m_requests.append(request);
    if (m_onRequest)
        m_onRequest(request);
}

void TestHttpServer::setOnRequest(std::function<void(const ReceivedRequest&)> callback)
{
    m_onRequest = std::move(callback);
}

QStringList TestHttpServer::requestedPaths() const
{
    QStringList paths;
    for (const ReceivedRequest& request : m_requests)
        paths.append(request.path);
    return paths;
}

int TestHttpServer::requestCount(const QString& path) const
{
    int count = 0;
    for (const ReceivedRequest& request : m_requests)
        count += request.path == path ? 1 : 0;
    return count;
}

} // namespace testsupport
