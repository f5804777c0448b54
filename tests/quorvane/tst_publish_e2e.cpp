// A release published with the publisher tool onto a folder that nginx
// serves, and a fresh game folder updated from it by a real update run: the
// first install, an update that fetches only the changed file, and the sites
// the run must refuse (a tampered file, a bad signature, a signed manifest
// that is older, expired or another under the installed serial, files larger
// than the disk).

#include "Commands.h"
#include "Ed25519.h"
#include "Inet.h"
#include "NginxServer.h"
#include "RecordingView.h"
#include "ScratchFolder.h"
#include "SecretKeyFile.h"
#include "SiteManifest.h"
#include "UpdateSession.h"

#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>

using namespace Qt::StringLiterals;
using testsupport::ScratchFolder;

namespace {

// A whole run against nginx on this machine takes well under a second.
constexpr std::chrono::seconds RunLimit{30};

const QStringList ReleaseFiles = {u"readme.txt"_s, u"data/maps.dat"_s, u"data/items.dat"_s,
                                  u"Skins/autumn.skn"_s};

QByteArray pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The distinct paths nginx was asked for, sorted.
QStringList paths(const QStringList& requestLines)
{
    QStringList found;
    for (const QString& line : requestLines)
        found.append(line.section(u' ', 1, 1));
    found.removeDuplicates();
    found.sort();
    return found;
}

enum class Spoil
{
    TamperedFile,
    BadSignature,
    OlderManifest,
    Expired,
    SameSerial,
    HugeFiles
};

} // namespace

class tst_PublishEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void publishUpdateChangeUpdate();
    void refusedSite_data();
    void refusedSite();

private:
    // quorvane-publish with `arguments`; its exit status.
    int runTool(const QStringList& arguments,
                const QDateTime& now = QDateTime::currentDateTimeUtc());
    int publish(const QString& version, const QStringList& more = {},
                const QDateTime& now = QDateTime::currentDateTimeUtc())
    {
        return runTool(QStringList{u"build"_s, m_release->path(), site(), u"--version"_s, version,
                                   u"--sign"_s, keyFile()} +
                           more,
                       now);
    }
    // One update run of the game folder, bounded by RunLimit.
    void runUpdate();
    void signEditedManifest(qint64 serialStep, qint64 mapsSize);
    QString site(const QString& name = {}) const { return m_site.filePath(name); }
    QString keyFile() const { return m_keys->filePath(u"site.key"_s); }

    QTemporaryDir m_site;
    NginxServer m_nginx;
    std::unique_ptr<ScratchFolder> m_release;
    std::unique_ptr<ScratchFolder> m_game;
    std::unique_ptr<QTemporaryDir> m_keys;
    std::unique_ptr<testsupport::RecordingView> m_view;
    QString m_out;       // the publisher's last output
    QString m_publicKey; // base64, as keygen printed it
};

void tst_PublishEndToEnd::initTestCase()
{
    if (NginxServer::program().isEmpty())
        QSKIP("nginx is not installed (scripts/setup installs it)");
    QVERIFY(m_site.isValid());
    QVERIFY2(m_nginx.start(m_site.path()), qPrintable(m_nginx.error()));
}

// A new release of four files in three folders, a new key and a game folder
// that trusts it; the site is emptied (nginx keeps serving its folder).
void tst_PublishEndToEnd::init()
{
    QDir siteDir(m_site.path());
    for (const QString& name : siteDir.entryList(QDir::Files | QDir::Hidden))
        QVERIFY(siteDir.remove(name));
    m_release = std::make_unique<ScratchFolder>();
    m_game = std::make_unique<ScratchFolder>();
    m_game->ignore(u"Quorvane.log"_s);
    m_keys = std::make_unique<QTemporaryDir>();
    m_view = std::make_unique<testsupport::RecordingView>();
    for (qsizetype i = 0; i < ReleaseFiles.size(); ++i)
        QVERIFY(m_release->write(ReleaseFiles[i], pattern(1000 + 90000 * i, char(i))));

    QCOMPARE(runTool({u"keygen"_s, keyFile()}), 0);
    const QString keyLine = m_out.trimmed();
    QVERIFY2(keyLine.startsWith(u"PublicKey="_s), qPrintable(keyLine));
    m_publicKey = keyLine.mid(keyLine.indexOf(u'=') + 1);
    QVERIFY(m_game->write(u"Updater.ini"_s, "[UPDATER]\r\nWebSite=" + m_nginx.url().toUtf8() +
                                                "\r\n" + keyLine.toUtf8() + "\r\n"));
}

void tst_PublishEndToEnd::cleanup()
{
    m_game.reset();
    m_release.reset();
}

int tst_PublishEndToEnd::runTool(const QStringList& arguments, const QDateTime& now)
{
    m_out.clear();
    QString err;
    QTextStream out(&m_out), errStream(&err);
    const int status = publisher::runPublisher(arguments, out, errStream, now);
    if (status != 0)
        qWarning().noquote() << arguments.first() << "failed:" << err;
    return status;
}

void tst_PublishEndToEnd::runUpdate()
{
    Inet inet;
    inet.setInactivityTimeout(std::chrono::seconds(10));
    inet.setRetryDelays({});
    UpdateSession session(m_game->path(), inet, *m_view);
    bool overran = false;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &session, [&] {
        overran = true;
        session.requestQuit();
    });
    limit.start(RunLimit);
    m_view->clear();
    QSignalSpy ended(&session, &UpdateSession::finished);
    session.UpdateRun();
    QVERIFY(!ended.isEmpty() || ended.wait(int(RunLimit.count()) + 5000));
    QVERIFY2(!overran, "the update run did not end in time; quit requested");
}

// The site's manifest as release 1.1 with a new maps.dat, correctly signed but
// made here: the publisher only writes sizes it measured and serials it counted.
void tst_PublishEndToEnd::signEditedManifest(qint64 serialStep, qint64 mapsSize)
{
    auto manifest = publisher::readSiteManifest(site(u"info.ini"_s));
    QVERIFY(manifest && manifest.value());
    publisher::SiteManifest next = *manifest.value();
    next.version = u"1.1"_s;
    next.serial = *next.serial + serialStep;
    for (ManifestEntry& entry : next.entries) {
        if (entry.FileName == u"maps.dat"_s) {
            entry.FileVersion = u"1.1"_s;
            entry.FileSize = mapsSize;
        }
    }
    const QByteArray bytes = publisher::renderManifest(next);
    const auto key = verify::readSecretKeyFile(keyFile());
    QVERIFY(key);
    QSaveFile info(site(u"info.ini"_s)), signature(site(u"info.ini.sig"_s));
    QVERIFY(info.open(QIODevice::WriteOnly) && info.write(bytes) == bytes.size() && info.commit());
    QVERIFY(signature.open(QIODevice::WriteOnly));
    signature.write(verify::signatureFileText(verify::sign(bytes, key.value())));
    QVERIFY(signature.commit());
}

void tst_PublishEndToEnd::publishUpdateChangeUpdate()
{
    QCOMPARE(publish(u"1.0"_s), 0);
    QCOMPARE(runTool({u"verify"_s, site(), u"--key"_s, m_publicKey}), 0);
    runUpdate();
    QCOMPARE(m_view->current(StatusField::Status), u"Updated To Version 1.0!"_s);
    for (const QString& file : ReleaseFiles)
        QVERIFY2(m_game->read(file) == m_release->read(file), qPrintable(file));
    QCOMPARE(m_game->read(u"info.ini"_s), readFile(site(u"info.ini"_s)));
    QVERIFY(!m_game->exists(u"temp.ini"_s));

    QVERIFY(m_release->write(u"data/items.dat"_s, pattern(70000, 'n')));
    QCOMPARE(publish(u"1.1"_s), 0);
    QVERIFY2(m_out.contains(u"changed: 1 (data\\items.dat)"_s), qPrintable(m_out));
    const qsizetype mark = m_nginx.requests().size();
    runUpdate();

    QCOMPARE(m_view->current(StatusField::Status), u"Updated To Version 1.1!"_s);
    // Only the changed file: plain, or one of its smaller forms the manifest names.
    const QStringList fetched = paths(m_nginx.requests().mid(mark));
    QCOMPARE(fetched.size(), 3);
    QCOMPARE(fetched.first(2), QStringList({u"/info.ini"_s, u"/info.ini.sig"_s}));
    QVERIFY2(fetched[2] == u"/items.dat"_s ||
                 (fetched[2].startsWith(u"/packed/"_s) &&
                  readFile(site(u"info.ini"_s)).contains(fetched[2].mid(8, 64).toLatin1())),
             qPrintable(fetched[2]));
    for (const QString& file : ReleaseFiles)
        QVERIFY2(m_game->read(file) == m_release->read(file), qPrintable(file));
    QVERIFY(m_game->read(u"info.ini"_s).contains("Version=1.1"));
}

void tst_PublishEndToEnd::refusedSite_data()
{
    QTest::addColumn<Spoil>("spoil");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QStringList>("fetched"); // besides the manifest and its signature
    QTest::addColumn<QString>("cause");       // in the run log

    const QString unverified = u"Could Not Verify Update Information!"_s;
    QTest::newRow("file changed on the site after publishing")
        << Spoil::TamperedFile << u"Update Incomplete, Please Try Again!"_s
        << u"Failed To Download maps.dat!"_s << QStringList{u"/maps.dat"_s}
        << u"does not match the expected"_s;
    QTest::newRow("signature altered") << Spoil::BadSignature << unverified << QString()
                                       << QStringList() << u"does not match the public key"_s;
    QTest::newRow("older signed manifest put back")
        << Spoil::OlderManifest << unverified << QString() << QStringList()
        << u"older than the installed"_s;
    QTest::newRow("expired") << Spoil::Expired << unverified << QString() << QStringList()
                             << u"expired at"_s;
    QTest::newRow("another manifest under the installed serial")
        << Spoil::SameSerial << unverified << QString() << QStringList()
        << u"under the same Serial"_s;
    QTest::newRow("more than the disk holds") << Spoil::HugeFiles << u"Not Enough Disk Space!"_s
                                              << QString() << QStringList() << u"bytes to stage"_s;
}

// The game folder is at 1.0 from the site; the site then moves on in a way the
// run must refuse: nothing below the game folder changes and PLAY is enabled.
void tst_PublishEndToEnd::refusedSite()
{
    QFETCH(Spoil, spoil);
    QFETCH(QString, status);
    QFETCH(QString, detail);
    QFETCH(QStringList, fetched);
    QFETCH(QString, cause);

    QCOMPARE(publish(u"1.0"_s), 0);
    runUpdate();
    QCOMPARE(m_view->current(StatusField::Status), u"Updated To Version 1.0!"_s);
    QTemporaryDir saved;
    QVERIFY(QFile::copy(site(u"info.ini"_s), saved.filePath(u"info.ini"_s)) &&
            QFile::copy(site(u"info.ini.sig"_s), saved.filePath(u"info.ini.sig"_s)));

    QVERIFY(m_release->write(u"data/maps.dat"_s, pattern(150000, 'z')));
    const QDateTime lastMonth = QDateTime::currentDateTimeUtc().addDays(-30);
    switch (spoil) {
    case Spoil::TamperedFile: {
        QCOMPARE(publish(u"1.1"_s), 0);
        QFile maps(site(u"maps.dat"_s));
        QVERIFY(maps.open(QIODevice::ReadWrite) && maps.seek(70000) && maps.write("!") == 1);
        // Its smaller forms gone too: the tampered plain file is what arrives.
        QVERIFY(QDir(site(u"packed"_s)).removeRecursively());
        break;
    }
    case Spoil::BadSignature: {
        QCOMPARE(publish(u"1.1"_s), 0);
        QFile sig(site(u"info.ini.sig"_s));
        QVERIFY(sig.open(QIODevice::ReadWrite));
        const char first = sig.read(1).at(0);
        QVERIFY(sig.seek(0) && sig.putChar(first == 'A' ? 'B' : 'A'));
        break;
    }
    case Spoil::OlderManifest:
        QCOMPARE(publish(u"1.1"_s), 0);
        runUpdate();
        QCOMPARE(m_view->current(StatusField::Status), u"Updated To Version 1.1!"_s);
        for (const QString& name : {u"info.ini"_s, u"info.ini.sig"_s})
            QVERIFY(QFile::remove(site(name)) && QFile::copy(saved.filePath(name), site(name)));
        break;
    case Spoil::Expired: // published a month ago, for a week
        QCOMPARE(publish(u"1.1"_s, {u"--expires"_s, u"7"_s}, lastMonth), 0);
        break;
    case Spoil::SameSerial:
        signEditedManifest(0, 150000);
        break;
    case Spoil::HugeFiles:
        signEditedManifest(1, 1'000'000'000'000'000LL);
        break;
    }
    if (QTest::currentTestFailed())
        return;

    const auto before = m_game->snapshot();
    const qsizetype mark = m_nginx.requests().size();
    runUpdate();

    QCOMPARE(m_view->current(StatusField::Status), status);
    QCOMPARE(m_view->current(StatusField::Detail), detail);
    QVERIFY(m_view->continueEnabled());
    QStringList requested = paths(m_nginx.requests().mid(mark));
    requested.removeIf([](const QString& p) { return p.startsWith(u"/packed/"_s); });
    QCOMPARE(requested, (QStringList{u"/info.ini"_s, u"/info.ini.sig"_s} + fetched));
    QVERIFY(m_game->snapshot() == before); // temp.ini gone, info.ini and every file as they were
    const QByteArray log = m_game->read(u"Quorvane.log"_s);
    QVERIFY2(log.contains(cause.toUtf8()), log.constData());
}

QTEST_GUILESS_MAIN(tst_PublishEndToEnd)
#include "tst_publish_e2e.moc"
