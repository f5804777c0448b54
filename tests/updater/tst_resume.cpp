// Continuing a large download after a crash: only bytes that provably belong
// to the file being fetched are continued, whatever the server answers.

#include "UpdaterTestKit.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;

using kit::manifestText;

namespace {

// Above the size recorded for resuming as soon as its transfer starts.
constexpr qsizetype FileBytes = 2 * 1024 * 1024 + 4321;
constexpr qsizetype CrashAt = 1200000;

QStringList partFiles(const QString& folder)
{
    QStringList parts;
    QDirIterator it(folder, {u".qvpart-*"_s}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        parts.append(QFileInfo(it.next()).fileName());
    return parts;
}

// How the site answers a request for the file: a server that honours Range
// and If-Range, or one that answers every Range with a 206 of what it has now.
void answer(kit::Site& site, const QByteArray& body, const QByteArray& etag, bool honoursIfRange)
{
    site.server.setOnRequest([=, &site](const testsupport::ReceivedRequest& request) {
        if (request.path != kit::Site::sitePath(u"a.dat"_s))
            return;
        const QByteArray range = request.header("Range");
        const bool partial =
            range.startsWith("bytes=") && (!honoursIfRange || request.header("If-Range") == etag);
        CannedResponse reply = CannedResponse::ok(body);
        if (partial) {
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            reply = CannedResponse::withStatus(206, body.mid(from));
            reply.headers.append({"Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                       QByteArray::number(body.size() - 1) + '/' +
                                                       QByteArray::number(body.size())});
        }
        if (!etag.isEmpty())
            reply.headers.append({"ETag", etag});
        site.serve(u"a.dat"_s, reply);
    });
}

} // namespace

class ResumeTest : public QObject
{
    Q_OBJECT

private slots:
    void crashThenNextRun_data();
    void crashThenNextRun();
};

void ResumeTest::crashThenNextRun_data()
{
    QTest::addColumn<QByteArray>("etag1");    // the first run's validator
    QTest::addColumn<QString>("version2");    // the file's version at the second run
    QTest::addColumn<QByteArray>("etag2");    // the server's validator at the second run
    QTest::addColumn<bool>("honoursIfRange"); // else any Range gets a 206 of the new bytes
    QTest::addColumn<bool>("continued");      // the second run asks for the rest
    QTest::addColumn<int>("requests");        // for the file in the second run

    QTest::newRow("no validator, new release")
        << QByteArray() << u"1.2"_s << QByteArray() << false << false << 1;
    QTest::newRow("validator, new release, If-Range ignored")
        << "\"v1\""_ba << u"1.2"_s << "\"v2\""_ba << false << false << 1;
    QTest::newRow("validator, same release")
        << "\"v1\""_ba << u"1.1"_s << "\"v1\""_ba << true << true << 1;
    QTest::newRow("206 under another validator")
        << "\"v1\""_ba << u"1.1"_s << "\"v2\""_ba << false << true << 2;
    QTest::newRow("validator changed, If-Range honoured")
        << "\"v1\""_ba << u"1.1"_s << "\"v3\""_ba << true << true << 1;
}

// The program dies at 1.2 of 2 MiB (the folder is copied as it stands
// then); the second run on that copy installs one release's bytes, never a
// mix.
void ResumeTest::crashThenNextRun()
{
    QFETCH(QByteArray, etag1);
    QFETCH(QString, version2);
    QFETCH(QByteArray, etag2);
    QFETCH(bool, honoursIfRange);
    QFETCH(bool, continued);
    QFETCH(int, requests);
    const QByteArray body1 = kit::pattern(FileBytes, 1);
    const QByteArray body2 = etag2 == etag1 ? body1 : kit::pattern(FileBytes, 2);

    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, u"1.1"_s, QString()}}));
    CannedResponse stalls = CannedResponse::ok(body1);
    stalls.stallAfter = CrashAt;
    if (!etag1.isEmpty())
        stalls.headers.append({"ETag", etag1});
    site.serve(u"a.dat"_s, stalls);
    testsupport::ScratchFolder crashed;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QStringList parts = partFiles(site.game.path());
        if (parts.size() != 1 || QFileInfo(site.game.file(parts[0])).size() < CrashAt)
            return;
        watch.stop();
        const QMap<QString, QByteArray> files = site.game.snapshot();
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            // (a lock a killed program left is another test's case)
            if (!it.key().endsWith(u'/') && it.key() != u"Quorvane.lock"_s)
                crashed.write(it.key(), it.value());
        }
        site.quit();
    });
    watch.start(20);
    site.run();
    QVERIFY(site.quitRequested());
    QCOMPARE(crashed.exists(u"Quorvane.resume"_s), !etag1.isEmpty());

    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, version2, QString()}}));
    answer(site, body2, etag2, honoursIfRange);
    site.server.clearRequests();
    site.restart(crashed.path());
    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    const QByteArray installed = crashed.read(u"a.dat"_s);
    QCOMPARE(installed.size(), body2.size());
    QVERIFY2(installed == body2, "the installed file mixes two releases");
    QCOMPARE(site.requests(u"a.dat"_s), requests);
    const auto first =
        std::find_if(site.server.requests().cbegin(), site.server.requests().cend(),
                     [](const auto& r) { return r.path == kit::Site::sitePath(u"a.dat"_s); });
    QCOMPARE(first->header("Range").isEmpty(), !continued);
    QCOMPARE(first->header("If-Range"), continued ? etag1 : QByteArray());
    QVERIFY(partFiles(crashed.path()).isEmpty());
    QVERIFY(!crashed.exists(u"Quorvane.resume"_s));
}

QTEST_GUILESS_MAIN(ResumeTest)
#include "tst_resume.moc"
