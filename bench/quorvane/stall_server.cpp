// One-shot HTTP server on 127.0.0.1 that stops sending in the middle of a
// body: the answer to the first request is `size` bytes, of which the first
// `stall-at` come at once, the rest after `seconds` of silence. Files
// "<marker>.begin" and "<marker>.end" appear when the silence starts and ends.
//
// Usage: bench_stall_server <port-file> <size> <stall-at> <seconds> <marker>

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

void touch(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: bench_stall_server <port-file> <size> <stall-at> "
                             "<seconds> <marker>\n");
        return 2;
    }
    const qint64 size = args[2].toLongLong();
    const qint64 stallAt = qBound<qint64>(0, args[3].toLongLong(), size);
    const int seconds = args[4].toInt();
    const QString marker = args[5];

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    {
        QFile portFile(args[1]);
        if (!portFile.open(QIODevice::WriteOnly))
            return 1;
        portFile.write(QByteArray::number(server.serverPort()) + '\n');
    }

    QObject::connect(&server, &QTcpServer::newConnection, &app, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        server.close();
        auto request = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
            const bool complete = request->contains("\r\n\r\n");
            request->append(socket->readAll());
            if (complete || !request->contains("\r\n\r\n"))
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                          "Content-Length: " +
                          QByteArray::number(size) + "\r\nConnection: close\r\n\r\n");
            socket->write(QByteArray(stallAt, 'a'));
            socket->flush();
            QTimer::singleShot(200, socket, [=] { touch(marker + QStringLiteral(".begin")); });
            QTimer::singleShot(200 + seconds * 1000, socket, [=] {
                touch(marker + QStringLiteral(".end"));
                socket->write(QByteArray(size - stallAt, 'b'));
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [=] {
                    if (socket->bytesToWrite() == 0)
                        socket->disconnectFromHost();
                });
            });
        });
        QObject::connect(socket, &QTcpSocket::disconnected, &app, &QCoreApplication::quit);
    });
    return QCoreApplication::exec();
}
