// HTTP server on 127.0.0.1 that stops sending in the middle of a body: the
// answer is `size` bytes, of which the first `stall-at` come at once, the
// rest after `seconds` of silence. Files "<marker>.begin" and "<marker>.end"
// appear when the silence starts and ends.
//
// Without a folder it answers the first request whatever it asks, then ends.
// With a folder it serves a whole site until it is killed: "/stall.bin" is
// the stalling body (once), every other path a file of the folder (or 404).
//
// Usage: bench_stall_server <port-file> <size> <stall-at> <seconds> <marker> [<folder>]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

struct Stall
{
    qint64 size = 0;
    qint64 stallAt = 0;
    int seconds = 0;
    QString marker;
};

void touch(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

QByteArray head(const char* status, qint64 length)
{
    return QByteArray("HTTP/1.1 ") + status +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
}

void closeWhenSent(QTcpSocket* socket)
{
    const auto close = [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, close);
    close();
}

void sendStalled(QTcpSocket* socket, const Stall& stall)
{
    socket->write(head("200 OK", stall.size));
    socket->write(QByteArray(stall.stallAt, 'a'));
    socket->flush();
    QTimer::singleShot(200, socket, [=] { touch(stall.marker + QStringLiteral(".begin")); });
    QTimer::singleShot(200 + stall.seconds * 1000, socket, [=] {
        touch(stall.marker + QStringLiteral(".end"));
        socket->write(QByteArray(stall.size - stall.stallAt, 'b'));
        closeWhenSent(socket);
    });
}

// A file of the site; names that climb out of the folder are not found.
void sendFile(QTcpSocket* socket, const QString& folder, const QByteArray& path)
{
    const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(path));
    QFile file(folder + u'/' + name);
    if (name.contains(QStringLiteral("..")) || !file.open(QIODevice::ReadOnly)) {
        socket->write(head("404 Not Found", 0));
    } else {
        socket->write(head("200 OK", file.size()));
        socket->write(file.readAll());
    }
    closeWhenSent(socket);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6 && args.size() != 7) {
        std::fprintf(stderr, "usage: bench_stall_server <port-file> <size> <stall-at> "
                             "<seconds> <marker> [<folder>]\n");
        return 2;
    }
    Stall stall;
    stall.size = args[2].toLongLong();
    stall.stallAt = qBound<qint64>(0, args[3].toLongLong(), stall.size);
    stall.seconds = args[4].toInt();
    stall.marker = args[5];
    const QString folder = args.value(6);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    {
        QFile portFile(args[1]);
        if (!portFile.open(QIODevice::WriteOnly))
            return 1;
        portFile.write(QByteArray::number(server.serverPort()) + '\n');
    }

    bool stalled = false;
    QObject::connect(&server, &QTcpServer::newConnection, &app, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        if (folder.isEmpty()) {
            server.close();
            QObject::connect(socket, &QTcpSocket::disconnected, &app, &QCoreApplication::quit);
        } else {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
        auto request = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, &stalled] {
            const bool complete = request->contains("\r\n\r\n");
            request->append(socket->readAll());
            if (complete || !request->contains("\r\n\r\n"))
                return;
            const QByteArray path = request->split(' ').value(1).split('?').value(0);
            if (folder.isEmpty() || (path == "/stall.bin" && !stalled)) {
                stalled = true;
                sendStalled(socket, stall);
            } else {
                sendFile(socket, folder, path);
            }
        });
    });
    return QCoreApplication::exec();
}
