// Whole update runs against the test server: configuration, the up-to-date
// and update paths, per-entry decisions, and incomplete updates.

#include "UpdaterTestKit.h"

#include <QFile>
#include <QLockFile>
#include <QSet>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;
using kit::manifestText;

using Entries = QList<ManifestEntry>;

class UpdateRunTest : public QObject
{
    Q_OBJECT

private slots:
    void missingUpdaterIniIsCreated();
    void existingUpdaterIniIsNeverRewritten();
    void updaterIniThatIsAFolder();
    void webSiteForms_data();
    void webSiteForms();
    void malformedWebSite();
    void upToDate();
    void fullUpdateSequence();
    void noInstalledManifestFetchesEverything();
    void entryDecisions_data();
    void entryDecisions();
    void noEntriesStillInstallsManifest();
    void olderRemoteVersionIsInstalled();
    void incompleteUpdateIsNotInstalled();
    void unwritableGameFileLeavesUpdateIncomplete();
    void parallelTextsKeepManifestOrder();
    void passingFailuresAreRetried_data();
    void passingFailuresAreRetried();
    void secondRunWaitsForTheFirst_data();
    void secondRunWaitsForTheFirst();
    void unwritableTempIniIsNamed();
    void installedManifestIsTheOneUsed_data();
    void installedManifestIsTheOneUsed();
    void progressFollowsTheFiles_data();
    void progressFollowsTheFiles();
};

void UpdateRunTest::missingUpdaterIniIsCreated()
{
    kit::Site site;
    site.run();
    QCOMPARE(site.game.read(u"Updater.ini"_s), "[UPDATER]\r\nWebSite=\r\n"_ba);
    QCOMPARE(site.view.log(), (QStringList{u"show"_s, u"L2=No Version Info!"_s, u"continue=on"_s,
                                           u"L2=Please Input The Correct Web URL!"_s}));
    QVERIFY(site.server.requests().isEmpty());
}

void UpdateRunTest::existingUpdaterIniIsNeverRewritten()
{
    kit::Site site;
    site.configure();
    QFile file(site.game.file(u"Updater.ini"_s));
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const QByteArray before = site.game.read(u"Updater.ini"_s);
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    site.serve(u"info.ini"_s, manifestText(u"1.0"_s, {}));

    site.run();
    QCOMPARE(site.game.read(u"Updater.ini"_s), before);
    QCOMPARE(site.view.current(StatusField::Status), u"You Have The Latest Version!"_s);
}

void UpdateRunTest::updaterIniThatIsAFolder()
{
    kit::Site site;
    QVERIFY(QDir(site.game.path()).mkdir(u"Updater.ini"_s));
    site.run();
    QVERIFY(site.game.isDir(u"Updater.ini"_s));
    QCOMPARE(site.view.current(StatusField::Status), u"Please Input The Correct Web URL!"_s);
    QVERIFY(site.view.continueEnabled());
}

void UpdateRunTest::webSiteForms_data()
{
    QTest::addColumn<QString>("form"); // %1 = 127.0.0.1:<port>

    QTest::newRow("no scheme, no slash") << u"%1/site"_s;
    QTest::newRow("complete") << u"http://%1/site/"_s;
    QTest::newRow("capital scheme") << u"HTTP://%1/site"_s;
    QTest::newRow("blanks around") << u"   http://%1/site/  "_s;
}

void UpdateRunTest::webSiteForms()
{
    QFETCH(QString, form);
    kit::Site site;
    site.configure(form.arg("127.0.0.1:"_L1 + QString::number(site.server.port())));
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    site.serve(u"info.ini"_s, manifestText(u"1.0"_s, {}));

    site.run();
    QCOMPARE(site.server.requestedPaths(), QStringList{u"/site/info.ini"_s});
    QCOMPARE(site.view.current(StatusField::Status), u"You Have The Latest Version!"_s);
}

void UpdateRunTest::malformedWebSite()
{
    kit::Site site;
    site.configure(u"http://[127.0.0.1/site"_s);
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    const auto before = site.game.snapshot();
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Could Not Get Update Information!"_s);
    QVERIFY(site.view.continueEnabled());
    QCOMPARE(site.game.snapshot(), before);
}

void UpdateRunTest::upToDate()
{
    kit::Site site;
    site.configure();
    const QByteArray installed = manifestText(u"2.0"_s, {{u"a.dat"_s, u"1"_s, QString()}});
    site.game.write(u"info.ini"_s, installed);
    site.serve(u"info.ini"_s, manifestText(u"2.0"_s, {{u"a.dat"_s, u"5"_s, QString()}}));
    site.serve(u"a.dat"_s, "never fetched");

    site.run();
    QCOMPARE(site.view.log(),
             (QStringList{u"show"_s, u"L4=Version 2.0"_s, u"continue=off"_s,
                          u"L2=Getting News..."_s, u"L2=Getting Information..."_s, u"Label4=100%"_s,
                          u"L3=Downloaded info.ini!"_s, u"L4=Version 2.0"_s,
                          u"L2=You Have The Latest Version!"_s, u"L3="_s, u"continue=on"_s}));
    QCOMPARE(site.server.requestedPaths(), QStringList{u"/site/info.ini"_s});
    QCOMPARE(site.game.read(u"info.ini"_s), installed);
    QVERIFY(!site.game.exists(u"temp.ini"_s));
    QVERIFY(!site.game.exists(u"a.dat"_s));
}

void UpdateRunTest::fullUpdateSequence()
{
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s,
                    manifestText(u"1.0"_s, {{u"game.dat"_s, u"1.0"_s, u"\\data\\"_s}}));
    site.game.write(u"data/game.dat"_s, kit::pattern(9000, 5));
    const QByteArray manifest = manifestText(u"1.1"_s, {{u"game.dat"_s, u"1.1"_s, u"\\data\\"_s}});
    const QByteArray body = kit::pattern(2500, 1);
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"game.dat"_s, body);

    site.run();
    QCOMPARE(site.view.log(), (QStringList{u"show"_s,
                                           u"L4=Version 1.0"_s,
                                           u"continue=off"_s,
                                           u"L2=Getting News..."_s,
                                           u"L2=Getting Information..."_s,
                                           u"Label4=100%"_s,
                                           u"L3=Downloaded info.ini!"_s,
                                           u"L2=Checking File Versions..."_s,
                                           u"L2="_s,
                                           u"L3=Checking Files..."_s,
                                           u"L3=Downloading File 1 Of 1"_s,
                                           u"L2=Updating game.dat From Version 1.0 To 1.1..."_s,
                                           u"Label4=40%"_s,
                                           u"Label4=81%"_s,
                                           u"Label4=100%"_s,
                                           u"L3=Downloaded game.dat!"_s,
                                           u"continue=on"_s,
                                           u"L4=Version 1.1"_s,
                                           u"L2=Updated To Version 1.1!"_s,
                                           u"L3="_s}));
    QCOMPARE(site.game.read(u"data/game.dat"_s), body);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
    QVERIFY(!site.game.exists(u"temp.ini"_s));
    // The manifest installed is the one the run read: it is fetched once.
    QCOMPARE(site.server.requestedPaths(), (QStringList{u"/site/info.ini"_s, u"/site/game.dat"_s}));
}

void UpdateRunTest::noInstalledManifestFetchesEverything()
{
    kit::Site site;
    site.configure();
    const Entries entries{{u"a.dat"_s, u"1"_s, QString()},
                          {u"b.dat"_s, QString(), u"sub"_s},
                          {u"c.dat"_s, u"3"_s, QString()}};
    site.serve(u"info.ini"_s, manifestText(u"1.0"_s, entries));
    for (const ManifestEntry& e : entries)
        site.serve(e.FileName, e.FileName.toUtf8());

    site.run();
    QCOMPARE(site.view.values(StatusField::Status).first(), u"No Version Info!"_s);
    QCOMPARE(site.view.values(StatusField::Version), QStringList{u"Version 1.0"_s});
    QCOMPARE(site.view.values(StatusField::Detail).filter(u"Downloading File"_s),
             (QStringList{u"Downloading File 1 Of 3"_s, u"Downloading File 2 Of 3"_s,
                          u"Downloading File 3 Of 3"_s}));
    QCOMPARE(site.view.values(StatusField::Status).filter(u"Downloading "_s),
             (QStringList{u"Downloading a.dat..."_s, u"Downloading b.dat..."_s,
                          u"Downloading c.dat..."_s}));
    QCOMPARE(site.game.read(u"a.dat"_s), "a.dat"_ba);
    QCOMPARE(site.game.read(u"sub/b.dat"_s), "b.dat"_ba);
    QCOMPARE(site.game.read(u"c.dat"_s), "c.dat"_ba);
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.0!"_s);
}

void UpdateRunTest::entryDecisions_data()
{
    QTest::addColumn<Entries>("installed");
    QTest::addColumn<Entries>("remote");
    QTest::addColumn<QString>("remoteMax"); // empty: the number of entries
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QStringList>("entryTexts"); // L2 texts of the file loop

    const QString upToDate = u"File Already Up To Date!"_s;
    QTest::newRow("1.0 to 1.1") << Entries{{u"a.dat"_s, u"1.0"_s, QString()}}
                                << Entries{{u"a.dat"_s, u"1.1"_s, QString()}} << QString()
                                << QStringList{u"a.dat"_s}
                                << QStringList{u"Updating a.dat From Version 1.0 To 1.1..."_s};
    QTest::newRow("1.9 to 1.10 is newer")
        << Entries{{u"a.dat"_s, u"1.9"_s, QString()}} << Entries{{u"a.dat"_s, u"1.10"_s, QString()}}
        << QString() << QStringList{u"a.dat"_s}
        << QStringList{u"Updating a.dat From Version 1.9 To 1.10..."_s};
    QTest::newRow("equal") << Entries{{u"a.dat"_s, u"7"_s, QString()}}
                           << Entries{{u"a.dat"_s, u"7"_s, QString()}} << QString() << QStringList()
                           << QStringList{upToDate};
    QTest::newRow("remote older: nothing")
        << Entries{{u"a.dat"_s, u"10"_s, QString()}} << Entries{{u"a.dat"_s, u"9"_s, QString()}}
        << QString() << QStringList() << QStringList();
    QTest::newRow("new entry without version")
        << Entries{{u"a.dat"_s, u"1"_s, QString()}}
        << Entries{{u"a.dat"_s, u"1"_s, QString()}, {u"new.dat"_s, QString(), QString()}}
        << QString() << QStringList{u"new.dat"_s}
        << QStringList{upToDate, u"Downloading new.dat..."_s};
    QTest::newRow("entry inserted in front")
        << Entries{{u"a.dat"_s, u"1"_s, QString()}, {u"b.dat"_s, u"1"_s, QString()}}
        << Entries{{u"new.dat"_s, u"1"_s, QString()},
                   {u"a.dat"_s, u"1"_s, QString()},
                   {u"b.dat"_s, u"2"_s, QString()}}
        << QString() << QStringList{u"new.dat"_s, u"b.dat"_s}
        << QStringList{u"Downloading new.dat..."_s, upToDate,
                       u"Updating b.dat From Version 1 To 2..."_s};
    QTest::newRow("entries reordered")
        << Entries{{u"a.dat"_s, u"1"_s, QString()}, {u"b.dat"_s, u"5"_s, QString()}}
        << Entries{{u"b.dat"_s, u"5"_s, QString()}, {u"a.dat"_s, u"1"_s, QString()}} << QString()
        << QStringList() << QStringList{upToDate, upToDate};
    QTest::newRow("same file, other spelling of its folder")
        << Entries{{u"X.pak"_s, u"3"_s, u"\\Data\\"_s}} << Entries{{u"x.pak"_s, u"3"_s, u"data"_s}}
        << QString() << QStringList() << QStringList{upToDate};
    QTest::newRow("same name, other folder is another file")
        << Entries{{u"x.pak"_s, u"3"_s, u"one"_s}} << Entries{{u"x.pak"_s, u"3"_s, u"two"_s}}
        << QString() << QStringList{u"x.pak"_s} << QStringList{u"Downloading x.pak..."_s};
    QTest::newRow("Max beyond the listed entries")
        << Entries{{u"a.dat"_s, u"1"_s, QString()}}
        << Entries{{u"a.dat"_s, u"2"_s, QString()}, {u"b.dat"_s, u"1"_s, QString()}} << u"5"_s
        << QStringList{u"a.dat"_s, u"b.dat"_s}
        << QStringList{u"Updating a.dat From Version 1 To 2..."_s, u"Downloading b.dat..."_s};
    QTest::newRow("blank name in the middle")
        << Entries{}
        << Entries{{u"a.dat"_s, u"1"_s, QString()},
                   {u"  "_s, u"9"_s, u"x"_s},
                   {u"b.dat"_s, u"1"_s, QString()}}
        << QString() << QStringList{u"a.dat"_s, u"b.dat"_s}
        << QStringList{u"Downloading a.dat..."_s, u"Downloading b.dat..."_s};
}

void UpdateRunTest::entryDecisions()
{
    QFETCH(Entries, installed);
    QFETCH(Entries, remote);
    QFETCH(QString, remoteMax);
    QFETCH(QStringList, fetched);
    QFETCH(QStringList, entryTexts);
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, installed));
    const QByteArray manifest = manifestText(u"2.0"_s, remote, remoteMax);
    site.serve(u"info.ini"_s, manifest);
    for (const ManifestEntry& e : remote)
        site.serve(e.FileName, e.FileName.toUtf8());

    site.run();
    QStringList requested = site.server.requestedPaths();
    QCOMPARE(requested.takeFirst(), u"/site/info.ini"_s);
    QStringList expectedPaths;
    for (const QString& name : fetched)
        expectedPaths.append(kit::Site::sitePath(name));
    QCOMPARE(requested, expectedPaths);

    // The loop's own L2 texts: after "Checking File Versions..." and its
    // clearing, up to the final status.
    QStringList l2 = site.view.values(StatusField::Status);
    l2 = l2.mid(l2.indexOf(u"Checking File Versions..."_s) + 2);
    l2.removeLast();
    QCOMPARE(l2, entryTexts);

    const QStringList counters =
        site.view.values(StatusField::Detail).filter(u"Downloading File"_s);
    QCOMPARE(counters.size(), fetched.size());
    for (qsizetype i = 0; i < counters.size(); ++i) {
        QCOMPARE(counters.at(i), "Downloading File "_L1 + QString::number(i + 1) + " Of "_L1 +
                                     QString::number(fetched.size()));
    }
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 2.0!"_s);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
}

void UpdateRunTest::noEntriesStillInstallsManifest()
{
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    QByteArray manifest = "[VERSION]\r\nVersion=1.5\r\n"_ba;
    site.serve(u"info.ini"_s, manifest);
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.5!"_s);
    QCOMPARE(site.view.current(StatusField::Version), u"Version 1.5"_s);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
    QVERIFY(!site.view.values(StatusField::Detail).contains(u"Checking Files..."_s));
}

void UpdateRunTest::olderRemoteVersionIsInstalled()
{
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"3.0"_s, {{u"a.dat"_s, u"3"_s, QString()}}));
    site.game.write(u"a.dat"_s, "installed");
    const QByteArray manifest = manifestText(u"2.0"_s, {{u"a.dat"_s, u"2"_s, QString()}});
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"a.dat"_s, "older");
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 2.0!"_s);
    QCOMPARE(site.game.read(u"a.dat"_s), "installed"_ba);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
}

void UpdateRunTest::incompleteUpdateIsNotInstalled()
{
    kit::Site site;
    site.configure();
    const QByteArray installed =
        manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, QString()}, {u"b.dat"_s, u"1"_s, QString()}});
    site.game.write(u"info.ini"_s, installed);
    site.game.write(u"b.dat"_s, "old b");
    const QByteArray manifest =
        manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}, {u"b.dat"_s, u"2"_s, QString()}});
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"a.dat"_s, CannedResponse::withStatus(404, "<html>missing</html>"));
    site.serve(u"b.dat"_s, "new b");

    site.run();
    const QStringList log = site.view.log();
    // What made the run incomplete stays on the detail line.
    QCOMPARE(log.mid(log.size() - 4),
             (QStringList{u"L2=Update Incomplete, Please Try Again!"_s, u"L4=Version 1.0"_s,
                          u"L3=Failed To Download a.dat!"_s, u"continue=on"_s}));
    // The loop went on, but a partial update would leave a game that is
    // neither version: nothing is installed.
    QCOMPARE(site.requests(u"b.dat"_s), 1);
    QVERIFY(!site.game.exists(u"a.dat"_s));
    QCOMPARE(site.game.read(u"b.dat"_s), "old b"_ba);
    QCOMPARE(site.game.read(u"info.ini"_s), installed);
    QVERIFY(!site.game.exists(u"temp.ini"_s));
    QCOMPARE(site.requests(u"info.ini"_s), 1);

    // The next run fetches what is still behind and then installs the manifest.
    site.serve(u"a.dat"_s, "new a");
    site.view.clear();
    site.server.clearRequests();
    site.restart(site.game.path());
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"a.dat"_s), "new a"_ba);
    QCOMPARE(site.game.read(u"b.dat"_s), "new b"_ba);
    QCOMPARE(site.game.read(u"info.ini"_s), manifest);
}

void UpdateRunTest::unwritableGameFileLeavesUpdateIncomplete()
{
    kit::Site site;
    site.configure();
    const QByteArray installed = manifestText(u"1.0"_s, {});
    site.game.write(u"info.ini"_s, installed);
    site.game.write(u"a.dat/keep"_s, "a folder stands where a.dat goes");
    const auto before = site.game.snapshot();
    const QByteArray manifest = manifestText(u"1.1"_s, {{u"a.dat"_s, u"1"_s, QString()},
                                                        {u"b.dat"_s, u"1"_s, QString()},
                                                        {u"c.dat"_s, u"1"_s, u"sub"_s}});
    site.serve(u"info.ini"_s, manifest);
    for (const QString& name : {u"a.dat"_s, u"b.dat"_s, u"c.dat"_s})
        site.serve(name, name.toUtf8());

    site.run();
    // Reported when it happens; the loop goes on but installs nothing, not
    // even the folder c.dat would have gone to.
    const QStringList l3 = site.view.values(StatusField::Detail);
    QCOMPARE(l3.filter(u"Could Not Write"_s),
             (QStringList{u"Could Not Write a.dat!"_s, u"Could Not Write a.dat!"_s}));
    QCOMPARE(l3.at(l3.indexOf(u"Could Not Write a.dat!"_s) + 1), u"Checking Files..."_s);
    QCOMPARE(l3.last(), u"Could Not Write a.dat!"_s);
    QVERIFY(l3.contains(u"Downloaded c.dat!"_s));
    QCOMPARE(site.view.current(StatusField::Status), u"Update Incomplete, Please Try Again!"_s);
    QCOMPARE(site.game.snapshot(), before);
}

namespace {

// Six files that finish out of order when fetched side by side: early ones
// stall, later ones are quick; one is up to date and one fails.
void serveMixedSite(kit::Site& site, int connections)
{
    site.configure();
    site.game.write(u"Updater.ini"_s, "[UPDATER]\r\nWebSite="_ba + site.siteUrl().toUtf8() +
                                          "\r\nConnections="_ba + QByteArray::number(connections) +
                                          "\r\n"_ba);
    QList<ManifestEntry> installed;
    QList<ManifestEntry> remote;
    for (int n = 1; n <= 6; ++n) {
        const QString name = u"f%1.dat"_s.arg(n);
        installed.append({name, u"1"_s, u"data"_s});
        remote.append({name, n == 4 ? u"1"_s : u"2"_s, u"data"_s});
        CannedResponse response = CannedResponse::ok(kit::pattern(3000 * n, char(n)));
        response.pieceSize = 1500;
        if (n <= 2) {
            response.stallAfter = 1500;
            response.stallForMs = 300 / n;
        }
        site.serve(name, response);
    }
    site.serve(u"f5.dat"_s, CannedResponse::withStatus(404, "gone"));
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, installed));
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, remote));
}

} // namespace

void UpdateRunTest::parallelTextsKeepManifestOrder()
{
    kit::Site oneAtATime;
    serveMixedSite(oneAtATime, 1);
    oneAtATime.run();
    kit::Site sideBySide;
    serveMixedSite(sideBySide, 4);
    sideBySide.run();

    QCOMPARE(sideBySide.view.log(), oneAtATime.view.log());
    QVERIFY(sideBySide.view.log().contains(u"L3=Failed To Download f5.dat!"_s));
    QCOMPARE(sideBySide.view.current(StatusField::Status),
             u"Update Incomplete, Please Try Again!"_s);
    // Side by side really overlapped: several connections carried the files.
    QSet<int> connections;
    for (const auto& request : sideBySide.server.requests())
        connections.insert(request.connection);
    QVERIFY(connections.size() >= 3);
}

void UpdateRunTest::passingFailuresAreRetried_data()
{
    QTest::addColumn<CannedResponse>("failure");
    QTest::addColumn<int>("failures"); // before the file is served whole
    QTest::addColumn<int>("requests"); // of the file in all
    QTest::addColumn<bool>("installed");

    const CannedResponse unavailable = CannedResponse::withStatus(503, "busy");
    CannedResponse cut = CannedResponse::ok(kit::pattern(4000, 1));
    cut.dropAfter = 1000;
    QTest::newRow("503 once") << unavailable << 1 << 2 << true;
    QTest::newRow("503 twice") << unavailable << 2 << 3 << true;
    QTest::newRow("503 three times") << unavailable << 3 << 3 << false;
    QTest::newRow("connection cut twice") << cut << 2 << 3 << true;
    QTest::newRow("404 never retried")
        << CannedResponse::withStatus(404, "gone") << 1 << 1 << false;
    QTest::newRow("403 never retried") << CannedResponse::withStatus(403, "no") << 1 << 1 << false;
}

void UpdateRunTest::passingFailuresAreRetried()
{
    QFETCH(CannedResponse, failure);
    QFETCH(int, failures);
    QFETCH(int, requests);
    QFETCH(bool, installed);
    kit::Site site;
    site.inet.setRetryDelays({std::chrono::milliseconds(20), std::chrono::milliseconds(40)});
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, QString()}}));
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}}));
    const QByteArray body = kit::pattern(4000, 1);
    site.serve(u"a.dat"_s, failure);
    int seen = 0;
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path == kit::Site::sitePath(u"a.dat"_s) && ++seen > failures)
            site.serve(u"a.dat"_s, body);
    });

    site.run();
    QCOMPARE(site.requests(u"a.dat"_s), requests);
    QCOMPARE(site.view.values(StatusField::Detail).count(u"Retrying a.dat..."_s),
             installed ? failures : requests - 1);
    QCOMPARE(site.game.exists(u"a.dat"_s), installed);
    QCOMPARE(site.view.current(StatusField::Status),
             installed ? u"Updated To Version 1.1!"_s : u"Update Incomplete, Please Try Again!"_s);
}

void UpdateRunTest::secondRunWaitsForTheFirst_data()
{
    QTest::addColumn<bool>("quitWhileWaiting");
    QTest::newRow("goes on once the lock is free") << false;
    QTest::newRow("EXIT while waiting") << true;
}

// Another run holds the game folder: this one touches nothing until it is
// free, then goes on by itself.
void UpdateRunTest::secondRunWaitsForTheFirst()
{
    QFETCH(bool, quitWhileWaiting);
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, QString()}}));
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}}));
    site.serve(u"a.dat"_s, "new a");
    QLockFile other(site.game.file(u"Quorvane.lock"_s));
    QVERIFY(other.tryLock(0));
    const auto before = site.game.snapshot();
    int requestsWhileHeld = -1;
    QTimer::singleShot(3 * UpdateSession::LockPoll, [&] {
        requestsWhileHeld = int(site.server.requests().size());
        QCOMPARE(site.game.snapshot(), before);
        if (quitWhileWaiting)
            site.quit();
        else
            other.unlock();
    });

    site.run();
    QCOMPARE(requestsWhileHeld, 0);
    const QStringList log = site.view.log();
    QCOMPARE(log.mid(0, 3),
             (QStringList{u"show"_s, u"continue=off"_s, u"L2=Another Update Is Running!"_s}));
    if (quitWhileWaiting) {
        QCOMPARE(log.size(), 3);
        QCOMPARE(site.game.snapshot(), before);
    } else {
        QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
        QCOMPARE(site.game.read(u"a.dat"_s), "new a"_ba);
        QVERIFY(!site.game.exists(u"Quorvane.lock"_s)); // free again for the next run
    }
}

// Where nothing can be written (here: a folder holds the name), the reason is
// on the detail line.
void UpdateRunTest::unwritableTempIniIsNamed()
{
    kit::Site site;
    site.configure();
    site.game.write(u"temp.ini/keep"_s, "in the way");
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}}));
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Could Not Get Update Information!"_s);
    QCOMPARE(site.view.current(StatusField::Detail), u"Could Not Write temp.ini!"_s);
    QCOMPARE(site.requests(u"a.dat"_s), 0);
    QCOMPARE(site.game.read(u"temp.ini/keep"_s), "in the way"_ba);
}

void UpdateRunTest::installedManifestIsTheOneUsed_data()
{
    QTest::addColumn<bool>("siteRepublishes"); // info.ini changes on the site mid-run
    QTest::addColumn<bool>("tempIniChanges");  // temp.ini changes in the folder mid-run
    QTest::newRow("site publishes mid-run") << true << false;
    QTest::newRow("temp.ini changed mid-run") << false << true;
}

void UpdateRunTest::installedManifestIsTheOneUsed()
{
    QFETCH(bool, siteRepublishes);
    QFETCH(bool, tempIniChanges);
    kit::Site site;
    site.configure();
    const QByteArray installed = manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, QString()}});
    site.game.write(u"info.ini"_s, installed);
    const QByteArray used = manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}});
    site.serve(u"info.ini"_s, used);
    site.serve(u"a.dat"_s, "new a");
    site.server.setOnRequest([&](const testsupport::ReceivedRequest& request) {
        if (request.path != kit::Site::sitePath(u"a.dat"_s))
            return;
        if (siteRepublishes)
            site.serve(u"info.ini"_s, manifestText(u"1.2"_s, {{u"b.dat"_s, u"3"_s, QString()}}));
        if (tempIniChanges)
            site.game.write(u"temp.ini"_s, manifestText(u"9"_s, {}));
    });

    site.run();
    QCOMPARE(site.requests(u"info.ini"_s), 1);
    QVERIFY(!site.game.exists(u"temp.ini"_s));
    if (tempIniChanges) {
        QCOMPARE(site.view.current(StatusField::Status), u"Could Not Get Update Information!"_s);
        QCOMPARE(site.game.read(u"info.ini"_s), installed);
        QCOMPARE(site.game.read(u"a.dat"_s), QByteArray());
    } else {
        QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
        QCOMPARE(site.game.read(u"info.ini"_s), used);
        QCOMPARE(site.game.read(u"a.dat"_s), "new a"_ba);
    }
}

void UpdateRunTest::progressFollowsTheFiles_data()
{
    QTest::addColumn<bool>("sizes");    // the manifest gives FileSize
    QTest::addColumn<bool>("cMissing"); // the site answers 404 for c.dat
    QTest::addColumn<QStringList>("milestones");

    QTest::newRow("sizes given") << true << false
                                 << QStringList{u"plan=2/5500"_s, u"install"_s, u"end=ok"_s};
    QTest::newRow("no sizes") << false << false
                              << QStringList{u"plan=2/?"_s, u"install"_s, u"end=ok"_s};
    QTest::newRow("a file fails") << true << true << QStringList{u"plan=2/5500"_s, u"end=failed"_s};
}

void UpdateRunTest::progressFollowsTheFiles()
{
    QFETCH(bool, sizes);
    QFETCH(bool, cMissing);
    QFETCH(QStringList, milestones);
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {{u"b.dat"_s, u"1"_s, QString()}}));
    QByteArray manifest = manifestText(u"1.1"_s, {{u"a.dat"_s, u"1"_s, QString()},
                                                  {u"b.dat"_s, u"1"_s, QString()},
                                                  {u"c.dat"_s, u"1"_s, QString()}});
    if (sizes)
        manifest += "FileSize1=2500\r\nFileSize3=3000\r\n";
    site.serve(u"info.ini"_s, manifest);
    site.serve(u"a.dat"_s, kit::pattern(2500, 1));
    if (cMissing)
        site.serve(u"c.dat"_s, CannedResponse::withStatus(404, "<html>missing</html>"));
    else
        site.serve(u"c.dat"_s, kit::pattern(3000, 2));

    site.run();
    const QStringList& calls = site.view.progress;
    QStringList seen;               // all but the per-file calls
    QHash<QString, QString> lastAt; // file -> its last position
    for (const QString& call : calls) {
        if (call.startsWith(u"at="_s))
            lastAt.insert(call.section(u':', 0, 0).mid(3), call.section(u':', 1));
        else if (!call.startsWith(u"start="_s) && !call.startsWith(u"done="_s))
            seen.append(call);
    }
    QCOMPARE(seen, milestones);
    // b.dat (index 1) is up to date and never reported; the other two end
    // once each, a.dat after its whole body.
    QVERIFY(calls.contains(u"start=0@0"_s));
    QVERIFY(!lastAt.contains(u"1"_s) && !calls.contains(u"done=1:ok"_s));
    QCOMPARE(calls.count(u"done=0:ok"_s), 1);
    QCOMPARE(calls.count(cMissing ? u"done=2:failed"_s : u"done=2:ok"_s), 1);
    QCOMPARE(lastAt.value(u"0"_s), u"2500"_s);
    // A refused file counts no bytes (its error page is not the file).
    QCOMPARE(lastAt.value(u"2"_s, u"0"_s), cMissing ? u"0"_s : u"3000"_s);
    QVERIFY(calls.indexOf(u"done=0:ok"_s) > calls.indexOf(u"at=0:2500"_s));
}

QTEST_GUILESS_MAIN(UpdateRunTest)
#include "tst_updaterun.moc"
