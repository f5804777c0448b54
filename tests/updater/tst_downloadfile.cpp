// One download: progress, atomic replacement, failures that keep the old
// file, folders, addresses and the transfer's HTTP behaviour.

#include "UpdaterTestKit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSslKey>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;

class DownloadFileTest : public QObject
{
    Q_OBJECT

private slots:
    void progressSequence_data();
    void progressSequence();
    void noLengthCountsWhenChunked_data();
    void noLengthCountsWhenChunked();
    void emptyBodyReplacesWithEmptyFile();
    void shorterReplacementLeavesNoTail();
    void failureKeepsOldFile_data();
    void failureKeepsOldFile();
    void hugeDeclaredLengthIsNoOverflow();
    void stallThenResumeSucceeds();
    void bodyBeyondContentLengthIsCut();
    void folders_data();
    void folders();
    void unwritableTargets_data();
    void unwritableTargets();
    void namesAreEncoded();
    void blankLocalNameDoesNothing();
    void redirectIsFollowed();
    void requestHeadersAndConnectionReuse();
    void steadyTrickle_data();
    void steadyTrickle();
    void quitDuringWaitKeepsOldFile();
    void httpsTrustedWorksButNeverDowngrades();
};

void DownloadFileTest::progressSequence_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<QStringList>("percentages");

    const QStringList of2500{u"40%"_s, u"81%"_s, u"100%"_s};
    QTest::newRow("2500 in one piece") << 2500 << 65536 << of2500;
    QTest::newRow("2500 in small pieces") << 2500 << 100 << of2500;
    QTest::newRow("2500 in odd pieces") << 2500 << 1500 << of2500;
    QTest::newRow("1025 bytes") << 1025 << 4096 << QStringList{u"99%"_s, u"100%"_s};
    QTest::newRow("one byte") << 1 << 4096 << QStringList{u"100%"_s};
    QTest::newRow("exactly 1024") << 1024 << 4096 << QStringList{u"100%"_s};
}

void DownloadFileTest::progressSequence()
{
    QFETCH(int, size);
    QFETCH(int, pieceSize);
    QFETCH(QStringList, percentages);
    kit::Site site;
    const QByteArray body = kit::pattern(size);
    CannedResponse response = CannedResponse::ok(body);
    response.pieceSize = pieceSize;
    site.serve(u"x.dat"_s, response);

    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.view.values(StatusField::Progress), percentages);
    QCOMPARE(site.view.values(StatusField::Detail), QStringList{u"Downloaded x.dat!"_s});
    QCOMPARE(site.game.read(u"x.dat"_s), body);
}

void DownloadFileTest::noLengthCountsWhenChunked_data()
{
    QTest::addColumn<int>("framing");
    QTest::addColumn<bool>("counts");
    QTest::newRow("chunked") << int(CannedResponse::Framing::Chunked) << true;
    QTest::newRow("closed at end") << int(CannedResponse::Framing::CloseDelimited) << false;
}

// A chunked body says where it ends; one ended by the connection alone may be
// cut short, and nothing here knows its size.
void DownloadFileTest::noLengthCountsWhenChunked()
{
    QFETCH(int, framing);
    QFETCH(bool, counts);
    kit::Site site;
    site.game.write(u"x.dat"_s, kit::pattern(300000, 9));
    const QByteArray body = kit::pattern(100000, 3);
    CannedResponse response = CannedResponse::ok(body);
    response.framing = CannedResponse::Framing(framing);
    response.pieceSize = 7000;
    site.serve(u"x.dat"_s, response);

    QCOMPARE(site.download(u"x.dat"_s, u"x.dat"_s), counts);
    QCOMPARE(site.view.current(StatusField::Detail),
             counts ? u"Downloaded x.dat!"_s : u"Failed To Download x.dat!"_s);
    QCOMPARE(site.game.read(u"x.dat"_s), counts ? body : kit::pattern(300000, 9));
}

void DownloadFileTest::emptyBodyReplacesWithEmptyFile()
{
    kit::Site site;
    site.game.write(u"x.dat"_s, "old contents");
    site.serve(u"x.dat"_s, QByteArray());
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QVERIFY(site.game.exists(u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), QByteArray());
    QCOMPARE(site.view.log(), QStringList{u"L3=Downloaded x.dat!"_s});
}

void DownloadFileTest::shorterReplacementLeavesNoTail()
{
    kit::Site site;
    site.game.write(u"x.dat"_s, kit::pattern(5000, 1));
    site.serve(u"x.dat"_s, "short"_ba);
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), "short"_ba);
}

void DownloadFileTest::failureKeepsOldFile_data()
{
    // Error pages, cut and stalled bodies, silence and redirect loops are in
    // the fault suite; these are the remaining ways a transfer fails.
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<bool>("refuse");

    QTest::newRow("3xx without a location") << CannedResponse::withStatus(300, "choices") << false;
    CannedResponse slowHead = CannedResponse::ok("late");
    slowHead.headerDelayMs = 3000;
    QTest::newRow("answer after the time-out") << slowHead << false;
    QTest::newRow("connection refused") << CannedResponse() << true;
}

void DownloadFileTest::failureKeepsOldFile()
{
    QFETCH(CannedResponse, response);
    QFETCH(bool, refuse);
    kit::Site site;
    site.game.write(u"x.dat"_s, "old contents");
    const auto before = site.game.snapshot();
    site.serve(u"x.dat"_s, response);
    if (refuse)
        site.server.close();

    QVERIFY(!site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.view.current(StatusField::Detail), u"Failed To Download x.dat!"_s);
    QCOMPARE(site.game.snapshot(), before);
}

void DownloadFileTest::hugeDeclaredLengthIsNoOverflow()
{
    kit::Site site;
    CannedResponse response = CannedResponse::ok(kit::pattern(3000));
    response.declaredLength = 5'000'000'000;
    response.dropAfter = 3000;
    site.serve(u"x.dat"_s, response);
    QVERIFY(!site.download(u"x.dat"_s, u"x.dat"_s));
    // Whether the 3000 bytes are read before the drop is noticed depends on timing.
    for (const QString& shown : site.view.values(StatusField::Progress))
        QCOMPARE(shown, u"0%"_s);
    QVERIFY(!site.game.exists(u"x.dat"_s));
}

void DownloadFileTest::stallThenResumeSucceeds()
{
    kit::Site site;
    const QByteArray body = kit::pattern(50000);
    CannedResponse response = CannedResponse::ok(body);
    response.stallAfter = 20000;
    response.stallForMs = 150; // well inside the time-out
    site.serve(u"x.dat"_s, response);
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), body);
}

void DownloadFileTest::bodyBeyondContentLengthIsCut()
{
    kit::Site site;
    const QByteArray body = kit::pattern(4000);
    CannedResponse response = CannedResponse::ok(body);
    response.endless = true;
    site.serve(u"x.dat"_s, response);
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), body);
}

void DownloadFileTest::folders_data()
{
    QTest::addColumn<QStringList>("existingFolders");
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("expectedFile");
    QTest::addColumn<QString>("cleanedSubFolder");

    QTest::newRow("backslashes around")
        << QStringList() << u"\\data\\"_s << u"data/x.dat"_s << u"data"_s;
    QTest::newRow("leading slash") << QStringList() << u"/data"_s << u"data/x.dat"_s << u"data"_s;
    QTest::newRow("existing other case")
        << QStringList{u"DATA"_s} << u"data"_s << u"DATA/x.dat"_s << u"data"_s;
    QTest::newRow("nested, mixed separators")
        << QStringList() << u"a\\b/c"_s << u"a/b/c/x.dat"_s << u"a\\b/c"_s;
    QTest::newRow("nested, partly there in other case")
        << QStringList{u"Maps"_s} << u"maps\\Big"_s << u"Maps/Big/x.dat"_s << u"maps\\Big"_s;
    QTest::newRow("single separator means the game folder")
        << QStringList() << u"\\"_s << u"x.dat"_s << QString();
    QTest::newRow("none") << QStringList() << QString() << u"x.dat"_s << QString();
}

void DownloadFileTest::folders()
{
    QFETCH(QStringList, existingFolders);
    QFETCH(QString, subFolder);
    QFETCH(QString, expectedFile);
    kit::Site site;
    for (const QString& folder : existingFolders)
        QVERIFY(QDir(site.game.path()).mkpath(folder));
    site.serve(u"x.dat"_s, "payload");
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s, subFolder));
    QCOMPARE(site.game.read(expectedFile), "payload"_ba);
    // Exactly one file, and no second spelling of an existing folder.
    int files = 0;
    const auto snapshot = site.game.snapshot();
    for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it)
        files += it.key().endsWith(u'/') ? 0 : 1;
    QCOMPARE(files, 1);
    if (!existingFolders.isEmpty())
        QVERIFY(!snapshot.contains(u"data/"_s) && !snapshot.contains(u"maps/"_s));
}

void DownloadFileTest::unwritableTargets_data()
{
    QTest::addColumn<QString>("blocker"); // a file created before the download
    QTest::addColumn<QString>("subFolder");

    QTest::newRow("file where the folder should be") << u"data"_s << u"data"_s;
    QTest::newRow("file where a nested folder should be") << u"a/b"_s << u"a/b/c"_s;
    QTest::newRow("folder where the file should be") << u"x.dat/keep"_s << QString();
}

void DownloadFileTest::unwritableTargets()
{
    QFETCH(QString, blocker);
    QFETCH(QString, subFolder);
    kit::Site site;
    QVERIFY(site.game.write(blocker, "blocker"));
    const auto before = site.game.snapshot();
    site.serve(u"x.dat"_s, "payload");
    QVERIFY(!site.download(u"x.dat"_s, u"x.dat"_s, subFolder));
    QCOMPARE(site.view.current(StatusField::Detail), u"Could Not Write x.dat!"_s);
    QCOMPARE(site.game.snapshot(), before);
}

void DownloadFileTest::namesAreEncoded()
{
    kit::Site site;
    const QString name = u"my file #1 100%.dat"_s;
    site.serve(name, "named");
    QVERIFY(site.download(name, name));
    QCOMPARE(site.server.requests().size(), 1);
    QCOMPARE(site.server.requests().first().target, "/site/my%20file%20%231%20100%25.dat"_ba);
    QCOMPARE(site.game.read(name), "named"_ba);
}

void DownloadFileTest::blankLocalNameDoesNothing()
{
    kit::Site site;
    QVERIFY(!site.download(u"x.dat"_s, u"  "_s));
    QVERIFY(site.view.log().isEmpty());
    QVERIFY(site.server.requests().isEmpty());
}

void DownloadFileTest::redirectIsFollowed()
{
    kit::Site site;
    site.serve(u"x.dat"_s, CannedResponse::redirect("/mirror/x.dat", 302));
    site.server.setFile(u"/mirror/x.dat"_s, "moved");
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), "moved"_ba);
    // The address that answers is the one the file comes from.
    QCOMPARE(site.server.requestedPaths().last(), u"/mirror/x.dat"_s);
}

void DownloadFileTest::requestHeadersAndConnectionReuse()
{
    kit::Site site;
    for (const QString& name : {u"a"_s, u"b"_s, u"c"_s})
        site.serve(name, name.toUtf8());
    for (const QString& name : {u"a"_s, u"b"_s, u"c"_s})
        QVERIFY(site.download(name, name));
    QCOMPARE(site.server.requests().size(), 3);
    const testsupport::ReceivedRequest first = site.server.requests().first();
    QCOMPARE(first.method, "GET"_ba);
    QCOMPARE(first.header("User-Agent"), QByteArray("Quorvane/" QV_VERSION_STRING));
    QCOMPARE(site.server.connectionCount(), 1);
}

// Bytes that keep coming keep a transfer alive: the time-out counts silence,
// not the length of the whole transfer. A trickle under 1 KiB per time-out
// span is a stall all the same.
void DownloadFileTest::steadyTrickle_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("arrives");
    QTest::newRow("2 KiB per piece") << 2048 << true;
    QTest::newRow("200 bytes per piece") << 200 << false;
}

void DownloadFileTest::steadyTrickle()
{
    QFETCH(int, pieceSize);
    QFETCH(bool, arrives);
    kit::Site site;
    const QByteArray body = kit::pattern(8 * pieceSize, 5);
    CannedResponse trickle = CannedResponse::ok(body);
    trickle.pieceSize = pieceSize;
    trickle.pieceDelayMs = int(kit::ShortTimeout.count() * 2 / 5);
    site.serve(u"x.dat"_s, trickle);
    QElapsedTimer took;
    took.start();
    QCOMPARE(site.download(u"x.dat"_s, u"x.dat"_s), arrives);
    if (arrives) {
        QVERIFY(took.elapsed() > 2 * kit::ShortTimeout.count());
        QCOMPARE(site.game.read(u"x.dat"_s), body);
    } else {
        QVERIFY(!site.game.exists(u"x.dat"_s));
    }
}

void DownloadFileTest::quitDuringWaitKeepsOldFile()
{
    kit::Site site;
    site.game.write(u"x.dat"_s, "old contents");
    const auto before = site.game.snapshot();
    CannedResponse response = CannedResponse::ok(kit::pattern(100000));
    response.stallAfter = 30000;
    site.serve(u"x.dat"_s, response);
    site.server.setOnRequest([&site](const testsupport::ReceivedRequest&) {
        QTimer::singleShot(100, [&site] { site.quit(); });
    });
    QVERIFY(!site.download(u"x.dat"_s, u"x.dat"_s));
    QVERIFY(site.quitRequested());
    QVERIFY(!site.view.values(StatusField::Detail).contains(u"Downloaded x.dat!"_s));
    QCOMPARE(site.game.snapshot(), before);
}

void DownloadFileTest::httpsTrustedWorksButNeverDowngrades()
{
    kit::Site site;
    QVERIFY(kit::startTls(site.server));
    QFile certFile(u":/data/untrusted.crt"_s);
    QVERIFY(certFile.open(QIODevice::ReadOnly));
    site.inet.trustExtraCertificates(certFile.readAll());
    const auto untrustAgain = qScopeGuard([&site] { site.inet.trustExtraCertificates({}); });
    site.session->setBaseUrl(site.siteUrl());

    site.serve(u"x.dat"_s, "served over tls");
    QVERIFY(site.download(u"x.dat"_s, u"x.dat"_s));
    QCOMPARE(site.game.read(u"x.dat"_s), "served over tls"_ba);

    testsupport::TestHttpServer plain;
    QVERIFY(plain.listen());
    plain.setFile(u"/y.dat"_s, "plain text");
    site.serve(u"y.dat"_s, CannedResponse::redirect(plain.baseUrl().toUtf8() + "y.dat"));
    QVERIFY(!site.download(u"y.dat"_s, u"y.dat"_s));
    QCOMPARE(site.view.current(StatusField::Detail), u"Failed To Download y.dat!"_s);
    QVERIFY(plain.requests().isEmpty());
    QVERIFY(!site.game.exists(u"y.dat"_s));
}

QTEST_GUILESS_MAIN(DownloadFileTest)
#include "tst_downloadfile.moc"
