// An update installs all of its game files or none: each file is written
// beside its target first and only a complete run puts them in place.

#include "UpdaterTestKit.h"

#include "GameDir.h"
#include "StagedFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;
using kit::manifestText;

using Entries = QList<ManifestEntry>;
using Snapshot = QMap<QString, QByteArray>;

namespace {

// Five files in three folders, all behind the installed version 1.0.
const Entries Installed{{u"a.dat"_s, u"1"_s, QString()},
                        {u"b.dat"_s, u"1"_s, u"data"_s},
                        {u"c.dat"_s, u"1"_s, u"data"_s},
                        {u"d.dat"_s, u"1"_s, u"data\\maps"_s},
                        {u"e.dat"_s, u"1"_s, QString()}};

Entries remoteEntries()
{
    Entries remote = Installed;
    for (ManifestEntry& e : remote)
        e.FileVersion = u"2"_s;
    return remote;
}

const QByteArray RemoteManifest = manifestText(u"1.1"_s, remoteEntries());

QString localName(const ManifestEntry& e)
{
    return e.FilePath.isEmpty() ? e.FileName
                                : QString(e.FilePath).replace(u'\\', u'/') + u'/' + e.FileName;
}

// The game at 1.0 with every file present, and the site at 1.1.
void install(kit::Site& site)
{
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, Installed));
    char seed = 0;
    for (const ManifestEntry& e : Installed) {
        ++seed;
        site.game.write(localName(e), "old " + e.FileName.toUtf8() + QByteArray(100, seed));
        site.serve(e.FileName, kit::pattern(3000 + seed, seed));
    }
    site.serve(u"info.ini"_s, RemoteManifest);
}

const QRegularExpression PartName(u"^\\.qvpart-[A-Za-z0-9]{8}$"_s);

// Every part file below the game folder, relative and "/" separated.
QStringList partFiles(const kit::Site& site)
{
    QStringList parts;
    const QDir root(site.game.path());
    QDirIterator it(site.game.path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (PartName.match(info.fileName()).hasMatch())
            parts.append(root.relativeFilePath(info.filePath()));
    }
    return parts;
}

QStringList tail(const QStringList& log, qsizetype n)
{
    return log.mid(std::max<qsizetype>(0, log.size() - n));
}

// The end of an incomplete run: its first failure stays on the detail line.
QStringList updateIncomplete(const QString& cause)
{
    return {u"L2=Update Incomplete, Please Try Again!"_s, u"L4=Version 1.0"_s, u"L3="_s + cause,
            u"continue=on"_s};
}

} // namespace

class UpdateInstallTest : public QObject
{
    Q_OBJECT

private slots:
    void stoppedInstallTouchesNothing_data();
    void stoppedInstallTouchesNothing();
    void completeRunPutsEveryFileInPlace();
    void partFilesSitBesideTheirTargets();
    void failureMidLoopInstallsNothing_data();
    void failureMidLoopInstallsNothing();
    void quitMidLoopInstallsNothing();
    void folderTakingATargetsPlaceInstallsNothing();
    void stalePartFilesAreSwept();
    void fileListedTwiceLaterWins();
    void permissionsOfReplacedAndNewFiles();
    void longestNamesInstall();
    void interruptedDownloadIsContinued_data();
    void interruptedDownloadIsContinued();
    void linksNeverLeadOutside_data();
    void linksNeverLeadOutside();
};

void UpdateInstallTest::completeRunPutsEveryFileInPlace()
{
    kit::Site site;
    install(site);
    site.game.write(u"data/maps/other.txt"_s, "not in the manifest");
    Snapshot expected = site.game.snapshot();

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    // Each file is reported as it arrives, before the set is installed.
    const QStringList l3 = site.view.values(StatusField::Detail);
    for (const ManifestEntry& e : Installed)
        QVERIFY(l3.contains("Downloaded "_L1 + e.FileName + u'!'));
    char seed = 0;
    for (const ManifestEntry& e : Installed) {
        ++seed;
        expected[localName(e)] = kit::pattern(3000 + seed, seed);
    }
    expected[u"info.ini"_s] = RemoteManifest;
    QCOMPARE(site.game.snapshot(), expected);
}

void UpdateInstallTest::partFilesSitBesideTheirTargets()
{
    kit::Site site;
    install(site);
    CannedResponse slow = CannedResponse::ok(kit::pattern(50000, 9));
    slow.stallAfter = 20000;
    slow.stallForMs = 400;
    site.serve(u"d.dat"_s, slow);
    QStringList duringStall;
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path == kit::Site::sitePath(u"d.dat"_s))
            QTimer::singleShot(200, [&] { duringStall = partFiles(site); });
    });

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    // a.dat, b.dat, c.dat and e.dat (fetched beside the stalled one) wait
    // beside their targets, d.dat is being written beside its own, and no
    // target has been touched yet.
    QStringList folders;
    for (const QString& part : duringStall)
        folders.append(QFileInfo(part).path());
    folders.sort();
    QCOMPARE(folders, (QStringList{u"."_s, u"."_s, u"data"_s, u"data"_s, u"data/maps"_s}));
    QVERIFY(partFiles(site).isEmpty());
    QCOMPARE(site.game.read(u"data/maps/d.dat"_s), kit::pattern(50000, 9));
}

void UpdateInstallTest::failureMidLoopInstallsNothing_data()
{
    QTest::addColumn<CannedResponse>("response"); // for c.dat, the third of five

    QTest::newRow("404") << CannedResponse::withStatus(404, "<h1>gone</h1>");
    CannedResponse cut = CannedResponse::ok(kit::pattern(5000, 3));
    cut.dropAfter = 2500;
    QTest::newRow("body cut short") << cut;
    CannedResponse stall = CannedResponse::ok(kit::pattern(5000, 3));
    stall.stallAfter = 1000;
    QTest::newRow("stall mid-body") << stall;
}

void UpdateInstallTest::failureMidLoopInstallsNothing()
{
    QFETCH(CannedResponse, response);
    kit::Site site;
    install(site);
    const Snapshot before = site.game.snapshot();
    site.serve(u"c.dat"_s, response);

    site.run();
    QCOMPARE(tail(site.view.log(), 4), updateIncomplete(u"Failed To Download c.dat!"_s));
    // The loop went on to the end, but not one file was installed.
    QCOMPARE(site.requests(u"e.dat"_s), 1);
    QCOMPARE(site.game.snapshot(), before);

    // The next run fetches everything again and installs it.
    site.serve(u"c.dat"_s, "new c");
    site.view.clear();
    site.restart(site.game.path());
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"data/c.dat"_s), "new c"_ba);
    QCOMPARE(site.game.read(u"a.dat"_s), kit::pattern(3001, 1));
    QVERIFY(partFiles(site).isEmpty());
}

void UpdateInstallTest::quitMidLoopInstallsNothing()
{
    kit::Site site;
    install(site);
    site.game.write(u"new/keep.txt"_s, "a folder the run must leave alone");
    Snapshot expected = site.game.snapshot();
    // New files in new folders, one of which the quit stops half way.
    Entries remote = remoteEntries();
    remote.append({u"f.dat"_s, u"1"_s, u"new\\deep\\er"_s});
    remote.append({u"g.dat"_s, u"1"_s, u"fresh"_s});
    const QByteArray manifest = manifestText(u"1.1"_s, remote);
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"f.dat"_s, "f");
    CannedResponse stall = CannedResponse::ok(kit::pattern(40000, 4));
    stall.stallAfter = 10000;
    site.serve(u"g.dat"_s, stall);
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path == kit::Site::sitePath(u"g.dat"_s))
            QTimer::singleShot(100, [&site] { site.quit(); });
    });

    site.run();
    QVERIFY(site.view.values(StatusField::Detail).contains(u"Downloaded f.dat!"_s));
    QCOMPARE(site.view.log().count(u"continue=on"_s), 0);
    // As before the run, but for the downloaded manifest kept for the next.
    expected.insert(u"temp.ini"_s, manifest);
    QCOMPARE(site.game.snapshot(), expected);
}

void UpdateInstallTest::folderTakingATargetsPlaceInstallsNothing()
{
    kit::Site site;
    install(site);
    const Snapshot before = site.game.snapshot();
    // b.dat can be started, but a folder takes its place before the run ends.
    CannedResponse slow = CannedResponse::ok("new b");
    slow.stallAfter = 1;
    slow.stallForMs = 600;
    site.serve(u"b.dat"_s, slow);
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path == kit::Site::sitePath(u"b.dat"_s)) {
            QTimer::singleShot(300, [&] {
                QFile::remove(site.game.file(u"data/b.dat"_s));
                site.game.write(u"data/b.dat/keep"_s, "late folder");
            });
        }
    });

    site.run();
    const QStringList l3 = site.view.values(StatusField::Detail);
    QVERIFY(l3.contains(u"Downloaded e.dat!"_s));
    QCOMPARE(tail(site.view.log(), 4), updateIncomplete(u"Could Not Write b.dat!"_s));
    Snapshot expected = before;
    expected.remove(u"data/b.dat"_s);
    expected.insert(u"data/b.dat/"_s, QByteArray());
    expected.insert(u"data/b.dat/keep"_s, "late folder");
    QCOMPARE(site.game.snapshot(), expected);
}

void UpdateInstallTest::stalePartFilesAreSwept()
{
    kit::Site site;
    install(site);
    // Left by runs that were killed (in any folder, used or not), and
    // look-alikes that are not part files.
    const QStringList stale{u"data/.b.dat.part-Ab12Cd"_s, u"data/.gone.dat.part-zzzzzz"_s,
                            u".a.dat.part-000000"_s, u"unused/.x.dat.part-abcdef"_s,
                            u"data/maps/.qvpart-AbCd1234"_s};
    const QStringList kept{u"data/.b.dat.part-12345"_s, u"data/b.dat.part-abcdef"_s,
                           u"data/.b.dat.part-abc12!"_s, u"data/.b.dat.part-abcdefg"_s,
                           u"unused/.qvpart-abc"_s};
    for (const QString& name : stale + kept)
        site.game.write(name, "left over");

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    for (const QString& name : stale)
        QVERIFY2(!site.game.exists(name), qPrintable(name));
    for (const QString& name : kept)
        QCOMPARE(site.game.read(name), "left over"_ba);
}

void UpdateInstallTest::fileListedTwiceLaterWins()
{
    // Two remote names that land on one local file: the later entry wins,
    // as it would had each been installed in turn.
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    const QByteArray manifest = manifestText(u"1.1"_s, {{u"x.dat"_s, u"1"_s, u"data"_s},
                                                        {u"y.dat"_s, u"1"_s, QString()},
                                                        {u"data/x.dat"_s, u"1"_s, QString()}});
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"x.dat"_s, "first");
    site.serve(u"y.dat"_s, "y");
    site.serve(u"data/x.dat"_s, "second");

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"data/x.dat"_s), "second"_ba);
    QCOMPARE(site.game.read(u"y.dat"_s), "y"_ba);
    QVERIFY(partFiles(site).isEmpty());
}

void UpdateInstallTest::permissionsOfReplacedAndNewFiles()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has no mode bits to keep");
#else
    kit::Site site;
    install(site);
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                           QFileDevice::ReadUser | QFileDevice::WriteUser;
    QVERIFY(QFile::setPermissions(site.game.file(u"a.dat"_s), ownerOnly));
    // What any program gets for a new file here (the user's file mode mask).
    site.game.write(u"probe"_s, "x");
    const QFileDevice::Permissions usual = QFile::permissions(site.game.file(u"probe"_s));
    Entries remote = remoteEntries();
    remote.append({u"new.dat"_s, u"1"_s, QString()});
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, remote));
    site.serve(u"new.dat"_s, "new");

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(QFile::permissions(site.game.file(u"a.dat"_s)), ownerOnly);
    QCOMPARE(QFile::permissions(site.game.file(u"new.dat"_s)), usual);
    QCOMPARE(QFile::permissions(site.game.file(u"data/b.dat"_s)), usual);
#endif
}

// Part files have short names of their own, so every name the file system
// takes (255 bytes here) installs.
void UpdateInstallTest::longestNamesInstall()
{
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    const QString name = QString(251, u'n') + u".dat"_s;
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{name, u"1"_s, u"data"_s}}));
    site.serve(name, "long");
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"data/"_s + name), "long"_ba);
}

void UpdateInstallTest::interruptedDownloadIsContinued_data()
{
    QTest::addColumn<QByteArray>("etag");
    QTest::addColumn<bool>("sizeAndHash"); // the manifest gives FileSize and FileHash
    QTest::addColumn<bool>("kept");

    QTest::newRow("validator from the server") << "\"v1\""_ba << false << true;
    QTest::newRow("size and hash, but no validator") << QByteArray() << true << false;
    QTest::newRow("nothing to prove the rest belongs") << QByteArray() << false << false;
}

// EXIT in the middle of a large file keeps what arrived, with a record; the
// next run asks for the rest only if it can prove it belongs to those bytes.
// This server ignores Range, so the file starts over and must still install
// whole.
void UpdateInstallTest::interruptedDownloadIsContinued()
{
    QFETCH(QByteArray, etag);
    QFETCH(bool, sizeAndHash);
    QFETCH(bool, kept);
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    const QByteArray body = kit::pattern(300000, 6);
    QByteArray manifest = manifestText(u"1.1"_s, {{u"big.dat"_s, u"1"_s, u"data"_s}});
    if (sizeAndHash)
        manifest += "FileSize1=300000\r\nFileHash1=" +
                    QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\r\n";
    site.serve(u"info.ini"_s, manifest);
    CannedResponse stalls = CannedResponse::ok(body);
    stalls.stallAfter = 100000;
    if (!etag.isEmpty())
        stalls.headers.append(qMakePair(QByteArray("ETag"), etag));
    site.serve(u"big.dat"_s, stalls);
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path == kit::Site::sitePath(u"big.dat"_s))
            QTimer::singleShot(300, [&site] { site.quit(); });
    });
    site.run();
    QVERIFY(site.quitRequested());
    QCOMPARE(partFiles(site).size(), kept ? 1 : 0);
    QCOMPARE(site.game.exists(u"Quorvane.resume"_s), kept);
    if (kept)
        QCOMPARE(site.game.read(partFiles(site).constFirst()), body.left(100000));

    site.server.setOnRequest({});
    site.server.clearRequests();
    CannedResponse whole = CannedResponse::ok(body);
    whole.headers = stalls.headers;
    site.serve(u"big.dat"_s, whole);
    site.restart(site.game.path());
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"data/big.dat"_s), body);
    QVERIFY(partFiles(site).isEmpty());
    QVERIFY(!site.game.exists(u"Quorvane.resume"_s));
    const auto requests = site.server.requests();
    const auto asked = std::find_if(requests.cbegin(), requests.cend(), [](const auto& r) {
        return r.path == kit::Site::sitePath(u"big.dat"_s);
    });
    QVERIFY(asked != requests.cend());
    QCOMPARE(asked->header("Range"), kept ? "bytes=100000-"_ba : QByteArray());
    QCOMPARE(asked->header("If-Range"), kept ? etag : QByteArray());
}

void UpdateInstallTest::linksNeverLeadOutside_data()
{
    QTest::addColumn<QString>("link");     // in the game folder
    QTest::addColumn<QString>("pointsTo"); // in a folder outside it
    QTest::addColumn<bool>("updated");

    QTest::newRow("folder of entries") << u"data"_s << u"folder"_s << false;
    QTest::newRow("game file") << u"data/b.dat"_s << u"b.dat"_s << true;
    QTest::newRow("dangling game file") << u"data/b.dat"_s << u"missing.dat"_s << true;
    QTest::newRow("info.ini") << u"info.ini"_s << u"info.ini"_s << true;
    QTest::newRow("temp.ini") << u"temp.ini"_s << u"missing.ini"_s << true;
    QTest::newRow("Updater.ini, dangling") << u"Updater.ini"_s << u"missing.ini"_s << false;
    // Read through the folder's handle only: one elsewhere is not the game's.
    QTest::newRow("Updater.ini") << u"Updater.ini"_s << u"Updater.ini"_s << false;
}

// Nothing outside the game folder is created, changed or removed through a
// link: a folder that is a link makes its entries unsafe, a file that is a
// link is replaced as a link.
void UpdateInstallTest::linksNeverLeadOutside()
{
#ifdef Q_OS_WIN
    QSKIP("Symbolic links need privileges on Windows");
#else
    QFETCH(QString, link);
    QFETCH(QString, pointsTo);
    QFETCH(bool, updated);
    kit::Site site;
    install(site);
    testsupport::ScratchFolder outside;
    QVERIFY(outside.write(u"folder/b.dat"_s, "outside b"));
    QVERIFY(outside.write(u"folder/.qvpart-abcdefgh"_s, "not ours to sweep"));
    QVERIFY(outside.write(u"b.dat"_s, "outside b"));
    QVERIFY(outside.write(u"info.ini"_s, site.game.read(u"info.ini"_s)));
    QVERIFY(outside.write(u"Updater.ini"_s, site.game.read(u"Updater.ini"_s)));
    const auto before = outside.snapshot();
    if (site.game.isDir(link))
        QVERIFY(QDir(site.game.file(link)).removeRecursively());
    else if (site.game.exists(link))
        QVERIFY(QFile::remove(site.game.file(link)));
    QVERIFY(QFile::link(outside.file(pointsTo), site.game.file(link)));

    site.run();
    QCOMPARE(outside.snapshot(), before);
    if (updated) {
        QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
        QCOMPARE(site.game.read(u"data/b.dat"_s), kit::pattern(3002, 2));
        QCOMPARE(site.game.read(u"info.ini"_s), RemoteManifest);
        QVERIFY(!QFileInfo(site.game.file(link)).isSymLink() || link == u"temp.ini"_s);
    } else if (link == u"data"_s) {
        QCOMPARE(site.view.current(StatusField::Status), u"Update Incomplete, Please Try Again!"_s);
        QCOMPARE(site.view.current(StatusField::Detail), u"Skipped Unsafe File b.dat!"_s);
        QCOMPARE(site.requests(u"b.dat"_s), 0);
    } else {
        QCOMPARE(site.view.current(StatusField::Status), u"Please Input The Correct Web URL!"_s);
        QVERIFY(!QFileInfo(site.game.file(link)).isSymLink());
    }
    QVERIFY(partFiles(site).isEmpty());
#endif
}

void UpdateInstallTest::stoppedInstallTouchesNothing_data()
{
    QTest::addColumn<int>("stopAtAsk"); // the ask that says stop; 0: never
    QTest::newRow("never stopped") << 0;
    for (int ask = 1; ask <= 3; ++ask)
        QTest::newRow(qPrintable(u"stopped at ask %1"_s.arg(ask))) << ask;
}

// EXIT reaches the install step: until the journal is written every ask may
// say stop, and then no target is touched and the parts are gone.
void UpdateInstallTest::stoppedInstallTouchesNothing()
{
    QFETCH(int, stopAtAsk);
    testsupport::ScratchFolder game;
    game.write(u"data/a.dat"_s, "old a");
    game.write(u"info.ini"_s, "old manifest");
    const auto before = game.snapshot();
    const std::optional<GameDir> root = GameDir::openRoot(game.path());
    QVERIFY(root);
    std::optional<StagedFiles> staged(std::in_place, *root);
    QStringList created;
    QString error;
    StagedFiles::Part part = staged->createPart({u"data"_s}, u"a.dat"_s, &created, &error);
    QVERIFY2(part.file, qPrintable(error));
    QCOMPARE(part.file->write("new a"), 5);
    staged->add(std::move(part), u"a.dat"_s, created);
    QVERIFY(staged->stageManifest("new manifest"));

    int asks = 0;
    const QStringList failed = staged->install([&] { return ++asks == stopAtAsk; });
    if (stopAtAsk == 0) {
        QCOMPARE(failed, QStringList());
        QCOMPARE(game.read(u"data/a.dat"_s), "new a"_ba);
        QCOMPARE(game.read(u"info.ini"_s), "new manifest"_ba);
        QVERIFY(asks >= 3); // every ask of the data rows was made
    } else {
        QVERIFY(!failed.isEmpty());
        QCOMPARE(game.read(u"data/a.dat"_s), "old a"_ba);
        QCOMPARE(game.read(u"info.ini"_s), "old manifest"_ba);
        // Abandoned, the set leaves its large parts (here: over 4 bytes) for
        // the next start's sweep and removes the rest.
        staged->abandon(4);
        staged.reset();
        const auto after = game.snapshot();
        QStringList extra;
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!before.contains(it.key()))
                extra.append(it.key());
        }
        QCOMPARE(extra.size(), 1);
        QVERIFY(extra.first().startsWith(u"data/.qvpart-"_s));
        QCOMPARE(after.value(extra.first()), "new a"_ba);
        StagedFiles::sweepTree(*root, {});
        QCOMPARE(game.snapshot(), before);
    }
}

QTEST_GUILESS_MAIN(UpdateInstallTest)
#include "tst_updateinstall.moc"
