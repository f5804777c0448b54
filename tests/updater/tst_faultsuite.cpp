// Everything a server or a manifest can do wrong, and a quit at every point
// where the run waits. Each case checks the status texts, and that the game
// folder is byte-identical to before (or exactly as a successful update
// leaves it) with no temporary file left behind.

#include "UpdaterTestKit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslKey>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;
using kit::manifestText;

using Snapshot = QMap<QString, QByteArray>;

namespace {

const QByteArray InstalledManifest = manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, u"\\data\\"_s}});
const QByteArray RemoteManifest = manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, u"\\data\\"_s}});

// An installed game: Updater.ini, info.ini 1.0 and data/a.dat.
void install(kit::Site& site)
{
    site.configure();
    site.game.write(u"info.ini"_s, InstalledManifest);
    site.game.write(u"data/a.dat"_s, kit::pattern(3000, 1));
}

QStringList tail(const QStringList& log, qsizetype n)
{
    return log.mid(std::max<qsizetype>(0, log.size() - n));
}

const QStringList NoUpdateInformation{u"L2=Could Not Get Update Information!"_s,
                                      u"L4=Version 1.0"_s, u"L3="_s, u"continue=on"_s};
// The end of an incomplete run: its first failure stays on the detail line.
QStringList updateIncomplete(const QString& cause)
{
    return {u"L2=Update Incomplete, Please Try Again!"_s, u"L4=Version 1.0"_s, u"L3="_s + cause,
            u"continue=on"_s};
}

// A game folder at release 1 and the same folder at release 2 (served by the
// site), each with an Updater.ini that points at a site that is down.
struct Releases
{
    Snapshot old;
    Snapshot updated;
};

Releases serveReleases(kit::Site& site, int files)
{
    // Port 1 refuses, and no test server can take it over.
    Releases releases;
    releases.old.insert(u"Updater.ini"_s, "[UPDATER]\r\nWebSite=http://127.0.0.1:1/site/\r\n"_ba);
    releases.updated = releases.old;
    QList<ManifestEntry> entriesOld;
    QList<ManifestEntry> entriesNew;
    for (int n = 0; n < files; ++n) {
        const QString name = u"f%1.dat"_s.arg(n), folder = u"dir%1"_s.arg(n % 3);
        entriesOld.append({name, u"1"_s, folder});
        entriesNew.append({name, u"2"_s, folder});
        releases.old.insert(folder + u'/', {});
        releases.old.insert(folder + u'/' + name, kit::pattern(2000 + 97 * n, char(n)));
        releases.updated.insert(folder + u'/', {});
        releases.updated.insert(folder + u'/' + name, kit::pattern(3000 + 61 * n, char(n + 1)));
        site.serve(name, releases.updated.value(folder + u'/' + name));
    }
    releases.old.insert(u"info.ini"_s, manifestText(u"1"_s, entriesOld));
    releases.updated.insert(u"info.ini"_s, manifestText(u"2"_s, entriesNew));
    site.serve(u"info.ini"_s, releases.updated.value(u"info.ini"_s));
    return releases;
}

// What a folder holds that is neither all of one release nor all of the other.
QString differences(const Snapshot& folder, const Releases& releases)
{
    QStringList text;
    int counts[3] = {}; // as in release 1, as in release 2, neither
    for (auto it = folder.cbegin(); it != folder.cend(); ++it) {
        const QByteArray old = releases.old.value(it.key());
        const QByteArray updated = releases.updated.value(it.key());
        if (!releases.old.contains(it.key()))
            text.append(u"extra "_s + it.key());
        else if (old != updated)
            ++counts[it.value() == old ? 0 : it.value() == updated ? 1 : 2];
    }
    for (auto it = releases.old.cbegin(); it != releases.old.cend(); ++it) {
        if (!folder.contains(it.key()))
            text.append(u"missing "_s + it.key());
    }
    text.prepend(u"%1 files as in release 1, %2 as in release 2, %3 neither"_s.arg(counts[0])
                     .arg(counts[1])
                     .arg(counts[2]));
    return text.join(u", "_s);
}

#ifdef QV_DRIVER_PATH
// Runs the update driver on `game` while the test's site answers (it only does
// inside this loop), for at most `limitMs`; kills it at `killAtMs` when it is
// still running. Its exit code, 9 when killed, -1 when it outlived the limit.
int driveUpdate(const QString& game, qint64 limitMs, qint64 killAtMs = -1,
                qint64* elapsedMs = nullptr)
{
    QProcess driver;
    driver.start(QStringLiteral(QV_DRIVER_PATH), {u"update"_s, game});
    QElapsedTimer clock;
    clock.start();
    while (driver.state() != QProcess::NotRunning && clock.elapsed() < limitMs) {
        if (killAtMs >= 0 && clock.elapsed() >= killAtMs)
            driver.kill();
        driver.waitForFinished(2);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    if (elapsedMs)
        *elapsedMs = clock.elapsed();
    if (driver.state() != QProcess::NotRunning) {
        driver.kill();
        driver.waitForFinished(5000);
        return -1;
    }
    return driver.exitStatus() == QProcess::NormalExit ? driver.exitCode() : 9;
}
#endif

} // namespace

class FaultSuite : public QObject
{
    Q_OBJECT

private slots:
    void unusableManifest_data();
    void unusableManifest();
    void unusableManifestWithoutInstalledVersion();
    void untrustedCertificate();
    void failingGameFile_data();
    void failingGameFile();
    void bodyBeyondContentLength();
    void hexMax();
    void unsafeNames();
    void quitAtEachWait_data();
    void quitAtEachWait();
    void killedRunEndsAllOldOrAllNew();
};

void FaultSuite::unusableManifest_data()
{
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<bool>("refuse");

    QTest::newRow("connection refused") << CannedResponse() << true;
    CannedResponse silent;
    silent.noAnswer = true;
    QTest::newRow("no answer") << silent << false;
    QTest::newRow("404 with body") << CannedResponse::withStatus(404, "<h1>Not here</h1>") << false;
    QTest::newRow("500 with body")
        << CannedResponse::withStatus(500, "[VERSION]\r\nVersion=9\r\n") << false;
    CannedResponse cut = CannedResponse::ok(RemoteManifest);
    cut.dropAfter = RemoteManifest.size() / 2;
    QTest::newRow("body cut short") << cut << false;
    CannedResponse stall = CannedResponse::ok(RemoteManifest);
    stall.stallAfter = 20;
    QTest::newRow("stall mid-body") << stall << false;
    QTest::newRow("redirect loop") << CannedResponse::redirect("/site/info.ini", 301) << false;

    QByteArray garbage = kit::pattern(70000, 42);
    garbage.replace('\n', '[');
    QTest::newRow("binary garbage") << CannedResponse::ok(garbage) << false;
    QTest::newRow("no version") << CannedResponse::ok("[VERSION]\r\nMax=1\r\n[FILES]\r\n") << false;
    QTest::newRow("Max -1") << CannedResponse::ok(manifestText(u"1.1"_s, {}, u"-1"_s)) << false;
    QTest::newRow("Max 99999999999")
        << CannedResponse::ok(manifestText(u"1.1"_s, {}, u"99999999999"_s)) << false;
    QTest::newRow("Max above a million")
        << CannedResponse::ok(manifestText(u"1.1"_s, {}, u"1000001"_s)) << false;
    // Stops at 16 MiB instead of reading the promised gigabyte.
    CannedResponse huge = CannedResponse::ok(RemoteManifest);
    huge.declaredLength = qint64(1) << 30;
    huge.endless = true;
    huge.pieceSize = 256 * 1024;
    QTest::newRow("manifest past 16 MiB") << huge << false;
}

void FaultSuite::unusableManifest()
{
    QFETCH(CannedResponse, response);
    QFETCH(bool, refuse);
    kit::Site site;
    install(site);
    const Snapshot before = site.game.snapshot();
    site.serve(u"info.ini"_s, response);
    site.serve(u"a.dat"_s, "must not be fetched");
    if (refuse)
        site.server.close();

    site.run();
    QCOMPARE(tail(site.view.log(), 4), NoUpdateInformation);
    QCOMPARE(site.game.snapshot(), before);
    QCOMPARE(site.requests(u"a.dat"_s), 0);
}

void FaultSuite::unusableManifestWithoutInstalledVersion()
{
    kit::Site site;
    site.configure();
    const Snapshot before = site.game.snapshot();
    site.serve(u"info.ini"_s, CannedResponse::withStatus(404, "gone"));
    site.run();
    QCOMPARE(tail(site.view.log(), 3),
             (QStringList{u"L2=Could Not Get Update Information!"_s, u"L3="_s, u"continue=on"_s}));
    QVERIFY(site.view.values(StatusField::Version).isEmpty());
    QCOMPARE(site.game.snapshot(), before);
}

void FaultSuite::untrustedCertificate()
{
    kit::Site site;
    QVERIFY(kit::startTls(site.server));
    install(site);
    const Snapshot before = site.game.snapshot();
    site.serve(u"info.ini"_s, RemoteManifest);
    site.run();
    QCOMPARE(tail(site.view.log(), 4), NoUpdateInformation);
    QCOMPARE(site.game.snapshot(), before);
}

void FaultSuite::failingGameFile_data()
{
    QTest::addColumn<CannedResponse>("response");

    CannedResponse silent;
    silent.noAnswer = true;
    QTest::newRow("no answer") << silent;
    QTest::newRow("404 with body") << CannedResponse::withStatus(404, "<h1>Not here</h1>");
    QTest::newRow("500 with body") << CannedResponse::withStatus(500, kit::pattern(5000, 3));
    CannedResponse cut = CannedResponse::ok(kit::pattern(5000, 2));
    cut.dropAfter = 2048;
    QTest::newRow("body cut short") << cut;
    CannedResponse stall = CannedResponse::ok(kit::pattern(5000, 2));
    stall.stallAfter = 1500;
    QTest::newRow("stall mid-body") << stall;
    QTest::newRow("redirect loop") << CannedResponse::redirect("/site/a.dat", 307);
    // Bodies that must not count as the file.
    QTest::newRow("206 partial") << CannedResponse::withStatus(206, "part");
    QTest::newRow("204 no content") << CannedResponse::withStatus(204, QByteArray());
    CannedResponse gzip = CannedResponse::ok(kit::pattern(5000, 2));
    gzip.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    QTest::newRow("gzip coded") << gzip;
    CannedResponse closed = CannedResponse::ok(kit::pattern(5000, 2));
    closed.framing = CannedResponse::Framing::CloseDelimited;
    QTest::newRow("no length, ended by closing") << closed;
    CannedResponse chunkedCut = CannedResponse::ok(kit::pattern(5000, 2));
    chunkedCut.framing = CannedResponse::Framing::Chunked;
    chunkedCut.pieceSize = 1000;
    chunkedCut.dropAfter = 3000;
    QTest::newRow("chunked, cut between chunks") << chunkedCut;
}

void FaultSuite::failingGameFile()
{
    QFETCH(CannedResponse, response);
    kit::Site site;
    install(site);
    const Snapshot before = site.game.snapshot();
    site.serve(u"info.ini"_s, RemoteManifest);
    site.serve(u"a.dat"_s, response);

    site.run();
    QCOMPARE(tail(site.view.log(), 4), updateIncomplete(u"Failed To Download a.dat!"_s));
    QCOMPARE(site.game.snapshot(), before);
    QCOMPARE(site.requests(u"info.ini"_s), 1);
}

void FaultSuite::bodyBeyondContentLength()
{
    kit::Site site;
    install(site);
    Snapshot expected = site.game.snapshot();
    const QByteArray body = kit::pattern(5000, 7);
    CannedResponse endless = CannedResponse::ok(body);
    endless.endless = true;
    site.serve(u"info.ini"_s, RemoteManifest);
    site.serve(u"a.dat"_s, endless);

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    expected[u"data/a.dat"_s] = body;
    expected[u"info.ini"_s] = RemoteManifest;
    QCOMPARE(site.game.snapshot(), expected);
}

void FaultSuite::hexMax()
{
    kit::Site site;
    install(site);
    const QByteArray manifest =
        manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, u"\\data\\"_s}}, u"&H10"_s);
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"a.dat"_s, "new a");
    site.run();
    QCOMPARE(site.session->state().EntryCount, 16);
    QCOMPARE(site.view.values(StatusField::Detail).filter(u"Downloading File"_s),
             QStringList{u"Downloading File 1 Of 1"_s});
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"data/a.dat"_s), "new a"_ba);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
}

void FaultSuite::unsafeNames()
{
    // The game folder sits inside the scratch folder, so anything written
    // outside it shows up in the snapshot.
    kit::Site site;
    site.game.write(u"game/Updater.ini"_s, "[UPDATER]\r\nWebSite="_ba + site.siteUrl().toUtf8());
    site.game.write(u"game/info.ini"_s, InstalledManifest);
    site.restart(site.game.file(u"game"_s));
    const Snapshot before = site.game.snapshot();

    const QList<ManifestEntry> entries{
        {u"../evil.dat"_s, u"1"_s, QString()},    {u"evil.dat"_s, u"1"_s, u"..\\"_s},
        {u"evil.dat"_s, u"1"_s, u"data/../.."_s}, {u"/tmp/evil.dat"_s, u"1"_s, QString()},
        {u"C:\\evil.dat"_s, u"1"_s, QString()},   {u"evil.dat"_s, u"1"_s, u"\\\\server\\share"_s},
        {u"good.dat"_s, u"1"_s, u"data"_s},
    };
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, entries));
    site.server.setFallback(CannedResponse::ok("evil"));
    site.serve(u"good.dat"_s, "good");

    site.run();
    QCOMPARE(site.server.requestedPaths(), (QStringList{u"/site/info.ini"_s, u"/site/good.dat"_s}));
    const QStringList l3 = site.view.values(StatusField::Detail);
    for (qsizetype i = 0; i < entries.size() - 1; ++i)
        QVERIFY2(l3.contains("Skipped Unsafe File "_L1 + entries.at(i).FileName + u'!'),
                 qPrintable(entries.at(i).FileName));
    QCOMPARE(l3.filter(u"Downloading File"_s), QStringList{u"Downloading File 1 Of 1"_s});
    QCOMPARE(tail(site.view.log(), 4),
             updateIncomplete("Skipped Unsafe File "_L1 + entries.at(0).FileName + u'!'));
    // The safe file arrived, but an incomplete update installs nothing.
    QVERIFY(l3.contains(u"Downloaded good.dat!"_s));
    QCOMPARE(site.game.snapshot(), before);
}

void FaultSuite::quitAtEachWait_data()
{
    QTest::addColumn<QString>("path");            // the request the quit follows
    QTest::addColumn<int>("nthRequest");          // of that path
    QTest::addColumn<CannedResponse>("response"); // given to that request
    QTest::addColumn<QString>("atViewCall");      // or: quit when the view gets this
    QTest::addColumn<bool>("tempIniLeft");

    CannedResponse silent;
    silent.noAnswer = true;
    QByteArray paddedManifest = RemoteManifest;
    paddedManifest += QByteArray(6000, ';') + "\r\n";
    CannedResponse manifestStall = CannedResponse::ok(paddedManifest);
    manifestStall.stallAfter = 3000;
    CannedResponse fileStall = CannedResponse::ok(kit::pattern(50000, 4));
    fileStall.stallAfter = 20000;

    QTest::newRow("waiting for the manifest") << u"info.ini"_s << 1 << silent << QString() << false;
    QTest::newRow("manifest half received")
        << u"info.ini"_s << 1 << manifestStall << QString() << false;
    QTest::newRow("waiting for a game file") << u"a.dat"_s << 1 << silent << QString() << true;
    QTest::newRow("game file half received") << u"a.dat"_s << 1 << fileStall << QString() << true;
    QTest::newRow("between two steps")
        << QString() << 0 << CannedResponse() << u"L2=Checking File Versions..."_s << true;
    QTest::newRow("while the progress shows")
        << QString() << 0 << CannedResponse() << u"Label4=40%"_s << true;
}

void FaultSuite::quitAtEachWait()
{
    QFETCH(QString, path);
    QFETCH(int, nthRequest);
    QFETCH(CannedResponse, response);
    QFETCH(QString, atViewCall);
    QFETCH(bool, tempIniLeft);
    kit::Site site;
    install(site);
    Snapshot expected = site.game.snapshot();
    site.serve(u"info.ini"_s, RemoteManifest);
    site.serve(u"a.dat"_s, kit::pattern(2500, 8));

    int seen = 0;
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (path.isEmpty() || request.path != kit::Site::sitePath(path) || ++seen != nthRequest)
            return;
        site.serve(path, response);
        // Arrives while the run waits for this transfer.
        QTimer::singleShot(100, [&site] { site.quit(); });
    });
    if (!atViewCall.isEmpty()) {
        site.view.onCall = [&](const QString& entry) {
            if (entry == atViewCall)
                site.quit();
        };
    }

    site.run();
    QVERIFY(site.quitRequested());
    const QStringList log = site.view.log();
    QCOMPARE(log.count(u"continue=on"_s), 0); // no later step ran
    QVERIFY(!site.view.values(StatusField::Status).contains(u"Updated To Version 1.1!"_s));
    if (!atViewCall.isEmpty())
        QCOMPARE(log.last(), atViewCall);

    // Nothing half-written; the downloaded manifest stays until the next run.
    if (tempIniLeft)
        expected.insert(u"temp.ini"_s, RemoteManifest);
    Snapshot after = site.game.snapshot();
    if (path == u"info.ini"_s && nthRequest == 2)
        expected[u"data/a.dat"_s] = kit::pattern(2500, 8); // fetched before the quit
    QCOMPARE(after, expected);

    // No request after the quit.
    const int requestsAtQuit = site.server.requests().size();
    QTest::qWait(50);
    QCOMPARE(site.server.requests().size(), requestsAtQuit);
}

// The update driver, killed (SIGKILL) at random moments of a run and started
// again with the site down: the install journal must leave every file and
// info.ini all old or all new, and nothing of the run behind.
void FaultSuite::killedRunEndsAllOldOrAllNew()
{
#ifndef QV_DRIVER_PATH
    QSKIP("qv_bench_driver is not built");
#else
    constexpr int Kills = 10;
    constexpr int Limit = 10000; // ms for one run of the driver
    kit::Site site;
    const Releases releases = serveReleases(site, 30);
    const QString game = site.game.path();
    const auto reset = [&] {
        bool written = QDir(game).removeRecursively();
        for (auto it = releases.old.cbegin(); it != releases.old.cend(); ++it)
            written = written && (it.key().endsWith(u'/') || site.game.write(it.key(), it.value()));
        site.configure();
        return written;
    };

    // An undisturbed run gives the span the kill moments are spread over.
    QVERIFY(reset());
    qint64 spanMs = 0;
    QCOMPARE(driveUpdate(game, Limit, -1, &spanMs), 0);
    Snapshot updated = releases.updated;
    updated[u"Updater.ini"_s] = site.game.read(u"Updater.ini"_s);
    QCOMPARE(site.game.snapshot(), updated);

    int insideInstall = 0;
    for (int k = 0; k < Kills; ++k) {
        // One moment in each tenth of the run, so every stage is hit.
        const auto at = qint64((k + QRandomGenerator::global()->generateDouble()) * spanMs / Kills);
        QVERIFY(reset());
        QVERIFY(driveUpdate(game, Limit, at) != -1);
        const bool journal = site.game.exists(u"Quorvane.journal"_s);
        insideInstall += journal;
        site.game.write(u"Updater.ini"_s, releases.old.value(u"Updater.ini"_s));
        QCOMPARE(driveUpdate(game, Limit), 1); // no update information
        const Snapshot after = site.game.snapshot();
        const QString where =
            u"killed at %1 of %2 ms, journal %3"_s.arg(at).arg(spanMs).arg(journal);
        QVERIFY2(after == releases.old || after == releases.updated,
                 qPrintable(where + u": "_s + differences(after, releases)));
        // Every part was durable before the journal was: such a kill completes.
        QVERIFY2(!journal || after == releases.updated, qPrintable(where));
    }
    qInfo("%d of %d kills inside the install step", insideInstall, Kills);
#endif
}

QTEST_GUILESS_MAIN(FaultSuite)
#include "tst_faultsuite.moc"
