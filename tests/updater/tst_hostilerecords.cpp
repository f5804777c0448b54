// What the updater finds in the game folder is read as hostile: journal,
// resume and lock records that name anything but the updater's own part
// files and the manifest's entries are void, a lock no program holds is
// taken over, and nothing a site sends can forge a line of the run log.

#include "RunLog.h"
#include "UpdaterTestKit.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using kit::CannedResponse;

using kit::manifestText;

namespace {

const QByteArray Body = kit::pattern(300000, 3);
constexpr qsizetype Kept = 100000;

// A server that continues the file only under If-Range "v1".
void serveWithRanges(kit::Site& site)
{
    site.server.setOnRequest([&site](const testsupport::ReceivedRequest& request) {
        if (request.path != kit::Site::sitePath(u"a.dat"_s))
            return;
        const QByteArray range = request.header("Range");
        CannedResponse reply = CannedResponse::ok(Body);
        if (range.startsWith("bytes=") && request.header("If-Range") == "\"v1\"") {
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            reply = CannedResponse::withStatus(206, Body.mid(from));
            reply.headers.append({"Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                       QByteArray::number(Body.size() - 1) + '/' +
                                                       QByteArray::number(Body.size())});
        }
        reply.headers.append(qMakePair("ETag"_ba, "\"v1\""_ba));
        site.serve(u"a.dat"_s, reply);
    });
}

QByteArray resumeRecord(const kit::Site& site, const QString& folder, const QString& part)
{
    return "quorvane-resume 2\n" +
           (u"a.dat\t%1\t%2\t%3a.dat\t2\t-1\t\t\"v1\"\t%4\n"_s.arg(folder, part, site.siteUrl())
                .arg(Kept))
               .toUtf8();
}

} // namespace

class HostileRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void recordsInTheGameFolder_data();
    void recordsInTheGameFolder();
    void logEscaping_data();
    void logEscaping();
    void forgedVersionStaysOnItsLine();
};

void HostileRecordsTest::recordsInTheGameFolder_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("continued"); // the run asks for the rest of a.dat
    QTest::addColumn<QString>("logged");

    QTest::newRow("journal: a game file as a lost part")
        << u"journal-game"_s << false << u"journal ignored"_s;
    QTest::newRow("journal: a game file over info.ini")
        << u"journal-config"_s << false << u"journal ignored"_s;
    QTest::newRow("journal: a target its manifest does not list")
        << u"journal-unlisted"_s << false << u"not an entry of its manifest"_s;
    QTest::newRow("resume: a game file as the part")
        << u"resume-config"_s << false << u"not one of the updater's part"_s;
    QTest::newRow("resume: a part hard-linked elsewhere")
        << u"resume-hardlink"_s << false << u"not continued"_s;
    QTest::newRow("resume: a part away from its target")
        << u"resume-elsewhere"_s << false << u"not beside its target"_s;
    QTest::newRow("resume: a sound record is continued")
        << u"resume-sound"_s << true << u"HTTP 206"_s;
    QTest::newRow("lock: empty, after a power cut") << u"lock-empty"_s << false << u"took over"_s;
    QTest::newRow("lock: another host's") << u"lock-host"_s << false << u"took over"_s;
    QTest::newRow("lock: garbage") << u"lock-garbage"_s << false << u"took over"_s;
    QTest::newRow("lock: a folder") << u"lock-folder"_s << false << u"took over"_s;
}

// Whatever the records say, the run updates a.dat, never touches the game,
// its settings or a file outside, and notes what it ignored.
void HostileRecordsTest::recordsInTheGameFolder()
{
    QFETCH(QString, setup);
    QFETCH(bool, continued);
    QFETCH(QString, logged);
    kit::Site site;
    site.configure();
    const QByteArray installed = manifestText(u"1.0"_s, {{u"a.dat"_s, u"1"_s, QString()}});
    site.game.write(u"info.ini"_s, installed);
    site.game.write(u"a.dat"_s, "old");
    site.game.write(u"Game.zgx"_s, "the game");
    site.game.write(u"config.zcn"_s, "the settings");
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"a.dat"_s, u"2"_s, QString()}}));
    serveWithRanges(site);
    testsupport::ScratchFolder outside;
    outside.write(u"victim.dat"_s, Body.left(Kept));

    const QByteArray journal = "quorvane-install-journal 1\n";
    if (setup == u"journal-game"_s)
        site.game.write(u"Quorvane.journal"_s, journal + "7\tGame.zgx\ta.dat\n");
    if (setup == u"journal-config"_s)
        site.game.write(u"Quorvane.journal"_s, journal + "12\tconfig.zcn\tinfo.ini\n");
    if (setup == u"journal-unlisted"_s) {
        site.game.write(u".qvpart-aaaaaaaa"_s, "evil");
        site.game.write(u".qvpart-bbbbbbbb"_s, installed);
        site.game.write(u"Quorvane.journal"_s, journal + "4\t.qvpart-aaaaaaaa\tconfig.zcn\n" +
                                                   QByteArray::number(installed.size()) +
                                                   "\t.qvpart-bbbbbbbb\tinfo.ini\n");
    }
    if (setup == u"resume-config"_s) {
        site.game.write(u"config.zcn"_s, Body.left(Kept));
        site.game.write(u"Quorvane.resume"_s, resumeRecord(site, QString(), u"config.zcn"_s));
    }
    if (setup == u"resume-hardlink"_s) {
#ifdef Q_OS_WIN
        QSKIP("hard links are made differently on Windows");
#else
        QCOMPARE(::link(QFile::encodeName(outside.file(u"victim.dat"_s)).constData(),
                        QFile::encodeName(site.game.file(u".qvpart-cccccccc"_s)).constData()),
                 0);
        site.game.write(u"Quorvane.resume"_s, resumeRecord(site, QString(), u".qvpart-cccccccc"_s));
#endif
    }
    if (setup == u"resume-elsewhere"_s) {
        site.game.write(u"data/.qvpart-dddddddd"_s, Body.left(Kept));
        site.game.write(u"Quorvane.resume"_s, resumeRecord(site, u"data"_s, u".qvpart-dddddddd"_s));
    }
    if (setup == u"resume-sound"_s) {
        site.game.write(u".qvpart-eeeeeeee"_s, Body.left(Kept));
        site.game.write(u"Quorvane.resume"_s, resumeRecord(site, QString(), u".qvpart-eeeeeeee"_s));
    }
    const QMap<QString, QByteArray> locks{{u"lock-empty"_s, ""},
                                          {u"lock-host"_s, "4242\nQuorvane\nanother-host\n"},
                                          {u"lock-garbage"_s, "\xff\x00 garbage"_ba}};
    if (locks.contains(setup)) {
        site.game.write(u"Quorvane.lock"_s, locks.value(setup));
        QFile lock(site.game.file(u"Quorvane.lock"_s));
        QVERIFY(lock.open(QIODevice::ReadWrite) &&
                lock.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    }
    if (setup == u"lock-folder"_s)
        QVERIFY(QDir(site.game.path()).mkdir(u"Quorvane.lock"_s));
    const QByteArray settings = site.game.read(u"config.zcn"_s);

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    QCOMPARE(site.game.read(u"a.dat"_s), Body);
    QCOMPARE(site.game.read(u"Game.zgx"_s), "the game"_ba);
    QCOMPARE(site.game.read(u"config.zcn"_s), settings);
    QCOMPARE(outside.read(u"victim.dat"_s), Body.left(Kept));
    const auto requests = site.server.requests();
    const auto asked = std::find_if(requests.cbegin(), requests.cend(), [](const auto& r) {
        return r.path == kit::Site::sitePath(u"a.dat"_s);
    });
    QVERIFY(asked != requests.cend());
    QCOMPARE(asked->header("Range"), continued ? "bytes=100000-"_ba : QByteArray());
    const QString log = QString::fromUtf8(site.game.read(u"Quorvane.log"_s));
    QVERIFY2(log.contains(logged), qPrintable(log));
    QVERIFY(!site.game.exists(u"Quorvane.journal"_s));
    QVERIFY(
        QDir(site.game.path()).entryList({u".qvpart-*"_s}, QDir::Files | QDir::Hidden).isEmpty());
}

void HostileRecordsTest::logEscaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    QTest::newRow("plain, accents and emoji")
        << u"Version 1.2 é \U0001F600"_s << u"Version 1.2 é \U0001F600"_s;
    QTest::newRow("line feed") << u"1.2\nend: fake"_s << u"1.2\\x0aend: fake"_s;
    QTest::newRow("carriage return") << u"1.2\rend"_s << u"1.2\\x0dend"_s;
    QTest::newRow("next line") << u"a\u0085b"_s << u"a\\x85b"_s;
    QTest::newRow("line separator") << u"a\u2028b"_s << u"a\\u{2028}b"_s;
    QTest::newRow("right-to-left override") << u"a\u202Eb"_s << u"a\\u{202e}b"_s;
    QTest::newRow("backslash stays unambiguous") << u"a\\x0ab"_s << u"a\\\\x0ab"_s;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << u"\\u{d800}"_s;
}

void HostileRecordsTest::logEscaping()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    QCOMPARE(RunLog::escaped(text), logged);
}

// A site's Version with line breaks of every kind still makes one log line.
void HostileRecordsTest::forgedVersionStaysOnItsLine()
{
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifestText(u"1.0"_s, {}));
    const QString forged = u"1.1\u2028\u2029\x0b\x0c\u0085x 2026-01-01T00:00:00.000Z end: forged"_s;
    site.serve(u"info.ini"_s, manifestText(forged, {}));
    site.run();
    const QString log = QString::fromUtf8(site.game.read(u"Quorvane.log"_s));
    const QStringList lines = log.split(
        QRegularExpression(u"[\\n\\r\\x0b\\x0c\\x85\\x{2028}\\x{2029}]"_s), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    const QRegularExpression stamped(u"^\\d{4}-\\d\\d-\\d\\dT"_s);
    for (const QString& line : lines)
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    QVERIFY2(log.contains(u"\\u{2028}\\u{2029}\\x0b\\x0c\\x85x"_s), qPrintable(log));
}

QTEST_GUILESS_MAIN(HostileRecordsTest)
#include "tst_hostilerecords.moc"
