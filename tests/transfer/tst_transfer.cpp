// The transfer engine on its own: how a body's end is judged, the proxy of
// the environment, and HTTP/2 over TLS against a real nginx.

#include "Inet.h"
#include "MemorySink.h"
#include "NginxServer.h"
#include "ScratchFolder.h"
#include "TestHttpServer.h"

#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using testsupport::CannedResponse;

namespace {

constexpr int Bound = 15000; // ms any one transfer may take here

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + i / 509) & 0xFF);
    return bytes;
}

// Runs one transfer to its end.
bool finish(transfer::Transfer& transfer)
{
    QSignalSpy done(&transfer, &transfer::Transfer::finished);
    return transfer.isFinished() || done.wait(Bound);
}

QByteArray testData(const QString& name)
{
    QFile file(u":/data/"_s + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void proxyFromEnvironment_data();
    void proxyFromEnvironment();
    void http2OverTls();
    void transferOutlivesItsEngine();
};

void TransferTest::framing_data()
{
    using Framing = CannedResponse::Framing;
    using transfer::Outcome;
    QTest::addColumn<int>("framing");
    QTest::addColumn<qint64>("dropAfter");  // -1: the whole body is sent
    QTest::addColumn<QByteArray>("length"); // a Content-Length of our own
    QTest::addColumn<bool>("sizeKnown");    // the manifest gives the size
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("transient");
    // 100,000 bytes in chunks of 7,000.
    QTest::newRow("chunked, whole") << int(Framing::Chunked) << -1LL << QByteArray() << false
                                    << int(Outcome::Complete) << false;
    QTest::newRow("chunked, cut between chunks") << int(Framing::Chunked) << 70000LL << QByteArray()
                                                 << false << int(Outcome::NetworkError) << true;
    QTest::newRow("chunked, cut inside a chunk") << int(Framing::Chunked) << 73500LL << QByteArray()
                                                 << true << int(Outcome::NetworkError) << true;
    QTest::newRow("length, whole") << int(Framing::ContentLength) << -1LL << QByteArray() << false
                                   << int(Outcome::Complete) << false;
    QTest::newRow("shorter than its length")
        << int(Framing::ContentLength) << 73500LL << QByteArray() << false
        << int(Outcome::NetworkError) << true;
    QTest::newRow("length beyond the body, then closed")
        << int(Framing::CloseDelimited) << -1LL << "100001"_ba << false
        << int(Outcome::NetworkError) << true;
    QTest::newRow("closed, size unknown") << int(Framing::CloseDelimited) << -1LL << QByteArray()
                                          << false << int(Outcome::Refused) << false;
    QTest::newRow("closed, size known") << int(Framing::CloseDelimited) << -1LL << QByteArray()
                                        << true << int(Outcome::Complete) << false;
}

void TransferTest::framing()
{
    QFETCH(int, framing);
    QFETCH(qint64, dropAfter);
    QFETCH(QByteArray, length);
    QFETCH(bool, sizeKnown);
    QFETCH(int, outcome);
    QFETCH(bool, transient);
    testsupport::TestHttpServer server;
    QVERIFY(server.listen());
    const QByteArray body = pattern(100000);
    CannedResponse response = CannedResponse::ok(body);
    response.framing = CannedResponse::Framing(framing);
    response.pieceSize = 7000;
    response.dropAfter = dropAfter;
    if (!length.isEmpty())
        response.headers.append({"Content-Length", length});
    server.setResponse(u"/x.dat"_s, response);

    Inet inet;
    MemorySink sink;
    transfer::Validators checks;
    if (sizeKnown)
        checks.push_back(std::make_unique<transfer::ExpectedFile>(body.size(), std::nullopt));
    const auto transfer = inet.start(QUrl(server.baseUrl() + u"x.dat"_s), sink, std::move(checks));
    QVERIFY(finish(*transfer));
    QCOMPARE(int(transfer->outcome()), outcome);
    QCOMPARE(transfer->isTransient(), transient);
    if (transfer->outcome() == transfer::Outcome::Complete)
        QCOMPARE(sink.bytes, body);
    else
        QVERIFY(!transfer->failure().isEmpty());
}

void TransferTest::proxyFromEnvironment_data()
{
    QTest::addColumn<bool>("bypassed");
    QTest::newRow("http_proxy") << false;
    QTest::newRow("no_proxy names the site") << true;
}

// The site is only reachable through the proxy: a transfer that ignores
// http_proxy fails, one that ignores no_proxy gets the proxy's answer.
void TransferTest::proxyFromEnvironment()
{
    QFETCH(bool, bypassed);
    testsupport::TestHttpServer site;
    testsupport::TestHttpServer proxy;
    QVERIFY(site.listen());
    QVERIFY(proxy.listen());
    const QString url = site.baseUrl() + u"x.dat"_s;
    site.setFile(u"/x.dat"_s, "from the site");
    proxy.setFile(url, "through the proxy");
    const QByteArray oldProxy = qgetenv("http_proxy");
    const QByteArray oldNoProxy = qgetenv("no_proxy");
    qputenv("http_proxy", proxy.baseUrl().toUtf8());
    qputenv("no_proxy", bypassed ? "127.0.0.1" : "");
    const auto restore = qScopeGuard([&] {
        qputenv("http_proxy", oldProxy);
        qputenv("no_proxy", oldNoProxy);
    });

    Inet inet;
    MemorySink sink;
    const auto transfer = inet.start(QUrl(url), sink);
    QVERIFY(finish(*transfer));
    QCOMPARE(transfer->outcome(), transfer::Outcome::Complete);
    QCOMPARE(sink.bytes, bypassed ? "from the site"_ba : "through the proxy"_ba);
    QCOMPARE(proxy.requests().size(), bypassed ? 0 : 1);
    if (!bypassed)
        QCOMPARE(proxy.requests().constFirst().target, url.toUtf8());
}

// Many files at once over one multiplexed HTTP/2 connection; the test
// authority is trusted only through the engine's own seam.
void TransferTest::http2OverTls()
{
    if (NginxServer::program().isEmpty())
        QSKIP("nginx is not installed (scripts/setup installs it)");
    testsupport::ScratchFolder files;
    constexpr int Count = 40;
    for (int n = 0; n < Count; ++n)
        files.write(u"f%1.dat"_s.arg(n), pattern(4096 + n * 512));
    files.write(u"tls.crt"_s, testData(u"untrusted.crt"_s));
    files.write(u"tls.key"_s, testData(u"untrusted.key"_s));
    NginxServer nginx;
    nginx.useTls(files.path() + u"/tls.crt"_s, files.path() + u"/tls.key"_s);
    QVERIFY2(nginx.start(files.path()), qPrintable(nginx.error()));

    Inet inet;
    MemorySink refusedSink;
    const auto untrusted = inet.start(QUrl(nginx.url(u"/f0.dat"_s)), refusedSink);
    QVERIFY(finish(*untrusted));
    QCOMPARE(untrusted->outcome(), transfer::Outcome::Refused);

    QVERIFY(!inet.multiplexes(QUrl(nginx.url(u"/"_s)))); // refused: nothing was answered
    inet.trustExtraCertificates(files.read(u"tls.crt"_s));
    std::vector<MemorySink> sinks(Count);
    std::vector<std::unique_ptr<transfer::Transfer>> transfers;
    for (int n = 0; n < Count; ++n)
        transfers.push_back(inet.start(QUrl(nginx.url(u"/f%1.dat"_s.arg(n))), sinks[n]));
    for (int n = 0; n < Count; ++n) {
        QVERIFY(finish(*transfers[n]));
        QCOMPARE(transfers[n]->outcome(), transfer::Outcome::Complete);
        QVERIFY(transfers[n]->multiplexed()); // the queue opens up to many streams on this
        QCOMPARE(sinks[n].bytes, pattern(4096 + n * 512));
    }
    // Remembered for the origin, so the next queue from this site starts wide.
    QVERIFY(inet.multiplexes(QUrl(nginx.url(u"/other/info.ini"_s))));
    const QStringList lines = nginx.requests();
    QCOMPARE(lines.size(), Count);
    for (const QString& line : lines)
        QVERIFY2(line.endsWith(u"HTTP/2.0"_s), qPrintable(line));
    const QList<int> connections = nginx.connections();
    QCOMPARE(QSet<int>(connections.cbegin(), connections.cend()).size(), 1);
}

// The program deletes finished transfers later, possibly after the engine.
void TransferTest::transferOutlivesItsEngine()
{
    testsupport::TestHttpServer server;
    QVERIFY(server.listen());
    server.setFile(u"/x.dat"_s, "bytes");
    MemorySink sink;
    auto inet = std::make_unique<Inet>();
    auto done = inet->start(QUrl(server.baseUrl() + u"x.dat"_s), sink);
    QVERIFY(finish(*done));
    QVERIFY(!done->multiplexed()); // HTTP/1.1: the queue keeps to its connections
    QVERIFY(!inet->multiplexes(QUrl(server.baseUrl())));
    auto running = inet->start(QUrl(server.baseUrl() + u"x.dat"_s), sink);
    inet.reset();
    QCOMPARE(done->outcome(), transfer::Outcome::Complete);
    QCOMPARE(running->outcome(), transfer::Outcome::Running);
    done.reset();
    running->cancel();
    QCOMPARE(running->outcome(), transfer::Outcome::Cancelled);
}

QTEST_GUILESS_MAIN(TransferTest)
#include "tst_transfer.moc"
