// A simulated network link for scripts/bench: a TCP relay on 127.0.0.1 that
// holds every piece of data for a one-way delay and lets each direction carry
// at most a set bandwidth, shared by all connections (a queue per direction,
// like the bottleneck of a real link). TLS passes through untouched.
//
// Usage: bench_link_simulator <target-port> <round-trip-ms> <mbit-per-s, 0: unlimited>
// Prints "port=N" once it listens on 127.0.0.1:N; runs until killed.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <deque>

namespace {

class Direction : public QObject
{
public:
    Direction(const QElapsedTimer& clock, qint64 delayUs, double bitsPerUs)
        : m_clock(clock), m_delayUs(delayUs), m_bitsPerUs(bitsPerUs)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &Direction::deliver);
    }

    // `bytes` empty: close `to` once what went before has arrived.
    void send(QTcpSocket* to, QByteArray bytes)
    {
        const qint64 now = m_clock.nsecsElapsed() / 1000;
        const qint64 start = std::max(now, m_freeAtUs);
        const qint64 onWire = m_bitsPerUs > 0 ? qint64(double(bytes.size()) * 8 / m_bitsPerUs) : 0;
        m_freeAtUs = start + onWire;
        m_queue.push_back({m_freeAtUs + m_delayUs, to, std::move(bytes)});
        arm();
    }

private:
    struct Piece
    {
        qint64 dueUs;
        QPointer<QTcpSocket> to;
        QByteArray bytes;
    };

    void arm()
    {
        if (m_queue.empty() || m_timer.isActive())
            return;
        const qint64 waitUs = m_queue.front().dueUs - m_clock.nsecsElapsed() / 1000;
        m_timer.start(int(std::max<qint64>(0, (waitUs + 999) / 1000)));
    }

    void deliver()
    {
        const qint64 now = m_clock.nsecsElapsed() / 1000;
        while (!m_queue.empty() && m_queue.front().dueUs <= now) {
            Piece piece = std::move(m_queue.front());
            m_queue.pop_front();
            if (!piece.to)
                continue;
            if (piece.bytes.isEmpty())
                piece.to->disconnectFromHost();
            else
                piece.to->write(piece.bytes);
        }
        arm();
    }

    const QElapsedTimer& m_clock;
    qint64 m_delayUs;
    double m_bitsPerUs;
    qint64 m_freeAtUs = 0;
    std::deque<Piece> m_queue;
    QTimer m_timer;
};

void relay(QTcpSocket* from, QTcpSocket* to, Direction& direction)
{
    QObject::connect(from, &QTcpSocket::readyRead, to, [from, to, &direction] {
        const QByteArray bytes = from->readAll();
        if (!bytes.isEmpty())
            direction.send(to, bytes);
    });
    QObject::connect(from, &QTcpSocket::disconnected, to, [from, to, &direction] {
        const QByteArray rest = from->readAll();
        if (!rest.isEmpty())
            direction.send(to, rest);
        direction.send(to, {});
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fputs("usage: bench_link_simulator <target-port> <round-trip-ms> <mbit-per-s>\n",
                   stderr);
        return 2;
    }
    const quint16 target = quint16(args[1].toUInt());
    const qint64 oneWayUs = args[2].toLongLong() * 1000 / 2;
    const double bitsPerUs = args[3].toDouble(); // Mbit/s = bit/us
    QElapsedTimer clock;
    clock.start();
    Direction up(clock, oneWayUs, bitsPerUs);
    Direction down(clock, oneWayUs, bitsPerUs);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            auto* upstream = new QTcpSocket(client);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(upstream, &QTcpSocket::connected, upstream, [upstream] {
                upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            });
            relay(client, upstream, up);
            relay(upstream, client, down);
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            upstream->connectToHost(QHostAddress::LocalHost, target);
        }
    });
    std::printf("port=%u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
