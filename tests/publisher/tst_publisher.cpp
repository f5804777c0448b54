// The publisher tool's decisions, driven through its command line: what a
// build writes, what it refuses (leaving the site as it was), and what verify
// catches.

#include "Commands.h"
#include "Ed25519.h"
#include "Manifest.h"
#include "ManifestKeys.h"
#include "ProfileSyntax.h"
#include "ScratchFolder.h"
#include "SecretKeyFile.h"
#include "TestBytes.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

using namespace Qt::StringLiterals;
using testsupport::ScratchFolder;

namespace {

const QDateTime Now = QDateTime::currentDateTimeUtc();

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run publish(const QStringList& arguments)
{
    Run run;
    QTextStream out(&run.out), err(&run.err);
    run.status = publisher::runPublisher(arguments, out, err, Now);
    return run;
}

// A folder with a release and a site, and a signing key beside them.
struct Workbench
{
    ScratchFolder release;
    ScratchFolder site;
    ScratchFolder keys;
    verify::KeyPair pair = verify::generateKeyPair().value();

    Workbench()
    {
        verify::writeNewSecretKeyFile(keyFile(), pair.secretKey);
        release.write(u"readme.txt"_s, "read me");
        release.write(u"data/maps.dat"_s, QByteArray(5000, 'm'));
        release.write(u"data/sub/items.dat"_s, "items");
    }
    QString keyFile() const { return keys.file(u"site.key"_s); }
    Run build(const QString& version, const QStringList& more = {}) const
    {
        return publish(QStringList{u"build"_s, release.path(), site.path(), u"--version"_s, version,
                                   u"--sign"_s, keyFile()} +
                       more);
    }
    Run verifySite() const
    {
        return publish(
            {u"verify"_s, site.path(), u"--key"_s, QString::fromLatin1(pair.publicKey.toBase64())});
    }
    // Entry values of the site's manifest by file name: "version|folder".
    QMap<QString, QString> entries() const
    {
        const auto index = profile::syntax::Index::parse(site.read(u"info.ini"_s));
        QMap<QString, QString> result;
        const int max = index.find("VERSION", "Max").value_or("0").toInt();
        for (int n = 1; n <= max; ++n) {
            const QByteArray k = QByteArray::number(n);
            const auto value = [&](const char* key) {
                return *index.find("FILES", QByteArray(key + k));
            };
            result.insert(QString::fromUtf8(value("FileName")),
                          QString::fromUtf8(value("FileVersion") + '|' + value("FilePath")));
        }
        return result;
    }
    QByteArray versionKey(const char* key) const
    {
        const auto index = profile::syntax::Index::parse(site.read(u"info.ini"_s));
        return index.find("VERSION", key).value_or("-");
    }
};

} // namespace

class TestPublisher : public QObject
{
    Q_OBJECT

private slots:
    void keygen();
    void firstPublication();
    void republishKeepsUnchangedVersions();
    void withoutHashesComparesTheSiteCopy_data();
    void withoutHashesComparesTheSiteCopy();
    void badInputLeavesTheSiteAlone_data();
    void badInputLeavesTheSiteAlone();
    void verifyCatches_data();
    void verifyCatches();
    void verifyReadsAsTheUpdater_data();
    void verifyReadsAsTheUpdater();
    void serialNeverGoesBack_data();
    void serialNeverGoesBack();
    void signedBuildExpires_data();
    void signedBuildExpires();
};

void TestPublisher::keygen()
{
    ScratchFolder folder;
    const QString path = folder.file(u"new.key"_s);
    const Run run = publish({u"keygen"_s, path});
    QCOMPARE(run.status, 0);
    const QRegularExpressionMatch line =
        QRegularExpression(u"^PublicKey=(\\S+)\n$"_s).match(run.out);
    QVERIFY2(line.hasMatch(), qPrintable(run.out));
    const auto key = verify::readSecretKeyFile(path);
    QVERIFY(key);
    QCOMPARE(key.value().publicKey().toBase64(), line.captured(1).toLatin1());

    const QByteArray before = folder.read(u"new.key"_s);
    QCOMPARE(publish({u"keygen"_s, path}).status, 1);
    QCOMPARE(folder.read(u"new.key"_s), before);
}

void TestPublisher::firstPublication()
{
    Workbench w;
    const Run run = w.build(u"1.0"_s, {u"--expires"_s, u"30"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QByteArray manifest = w.site.read(u"info.ini"_s);
    QVERIFY(manifest.startsWith("[VERSION]\r\nVersion=1.0\r\nGameFileName=Game.zgx\r\n"));
    QCOMPARE(manifest.count('\n'), manifest.count("\r\n"));
    QCOMPARE(w.versionKey("Serial"), "1");
    const auto expires = verify::parseExpires(w.versionKey("Expires")).value;
    QVERIFY(expires && qAbs(expires->secsTo(Now.addDays(30))) <= 1);
    const QMap<QString, QString> expected{{u"readme.txt"_s, u"1.0|"_s},
                                          {u"maps.dat"_s, u"1.0|data"_s},
                                          {u"items.dat"_s, u"1.0|data\\sub"_s}};
    QCOMPARE(w.entries(), expected);
    QVERIFY(manifest.contains(QByteArray(
        "FileSize2=5000\r\nFileHash2=" +
        QCryptographicHash::hash(QByteArray(5000, 'm'), QCryptographicHash::Sha256).toHex())));
    QCOMPARE(w.site.read(u"items.dat"_s), "items");
    QVERIFY(verify::verifyManifest(manifest, w.site.read(u"info.ini.sig"_s), {w.pair.publicKey}));
    QVERIFY(run.out.contains(u"added:   3"_s));
    QCOMPARE(w.verifySite().status, 0);
}

void TestPublisher::republishKeepsUnchangedVersions()
{
    Workbench w;
    QCOMPARE(w.build(u"1.0"_s).status, 0);
    w.release.write(u"data/maps.dat"_s, QByteArray(7000, 'n')); // changed
    QVERIFY(QFile::remove(w.release.file(u"readme.txt"_s)));    // removed
    w.release.write(u"Skins/winter.skn"_s, "snow");             // added
    const Run run = w.build(u"1.10"_s);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QMap<QString, QString> expected{{u"maps.dat"_s, u"1.10|data"_s},
                                          {u"items.dat"_s, u"1.0|data\\sub"_s},
                                          {u"winter.skn"_s, u"1.10|Skins"_s}};
    QCOMPARE(w.entries(), expected);
    QCOMPARE(w.versionKey("Serial"), "2");
    QCOMPARE(w.site.read(u"maps.dat"_s), QByteArray(7000, 'n'));
    QVERIFY(run.out.contains(u"changed: 1 (data\\maps.dat)"_s));
    QVERIFY(run.out.contains(u"removed: 1 (readme.txt)"_s));
    QVERIFY(run.out.contains(u"downloads 7004 bytes"_s));
    QCOMPARE(w.verifySite().status, 0);
}

void TestPublisher::withoutHashesComparesTheSiteCopy_data()
{
    QTest::addColumn<QByteArray>("siteCopy"); // "-": none on the site
    QTest::addColumn<QString>("version");
    QTest::newRow("site copy equal") << QByteArray("items") << u"0.9"_s;
    QTest::newRow("site copy differs") << QByteArray("older items") << u"1.0"_s;
    QTest::newRow("no site copy") << QByteArray("-") << u"1.0"_s;
}

void TestPublisher::withoutHashesComparesTheSiteCopy()
{
    QFETCH(QByteArray, siteCopy);
    QFETCH(QString, version);
    Workbench w;
    // A manifest written by hand before the tool: no sizes, hashes or serial.
    w.site.write(u"info.ini"_s, "[VERSION]\nVersion=0.9\nGameFileName=Run.zgx\nMax=1\n[FILES]\n"
                                "FileName1=items.dat\nFileVersion1=0.9\nFilePath1=data/sub\n");
    if (siteCopy != "-")
        w.site.write(u"items.dat"_s, siteCopy);
    const Run run =
        publish({u"build"_s, w.release.path(), w.site.path(), u"--version"_s, u"1.0"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(w.entries().value(u"items.dat"_s), version + u"|data\\sub"_s);
    QCOMPARE(w.versionKey("GameFileName"), "Run.zgx");
    QCOMPARE(w.versionKey("Serial"), "1");
    QCOMPARE(w.site.read(u"items.dat"_s), "items");
}

void TestPublisher::badInputLeavesTheSiteAlone_data()
{
    QTest::addColumn<QString>("release");    // a file to add to the release ("" none)
    QTest::addColumn<QStringList>("change"); // what else differs from a good build
    QTest::addColumn<QString>("message");
    const QStringList none;
    QTest::newRow("two files of one name")
        << u"Skins/items.dat"_s << none << u"collide: Skins/items.dat, data/sub/items.dat"_s;
    QTest::newRow("unsafe name") << u"data/c:evil.dat"_s << none << u"unsafe"_s;
    QTest::newRow("manifest name") << u"data/INFO.INI"_s << none << u"their own files"_s;
    QTest::newRow("older version")
        << QString() << QStringList{u"version=0.9"_s} << u"must sort after"_s;
    QTest::newRow("same version with changes")
        << u"new.dat"_s << QStringList{u"version=1.0"_s} << u"must sort after"_s;
    QTest::newRow("key of the wrong form")
        << QString() << QStringList{u"badkey"_s} << u"not a secret key file"_s;
    QTest::newRow("unsigned build on a signed site")
        << QString() << QStringList{u"nosign"_s} << u"give --sign"_s;
    QTest::newRow("release inside the site")
        << QString() << QStringList{u"nested"_s} << u"must not contain each other"_s;
    QTest::newRow("missing release")
        << QString() << QStringList{u"norelease"_s} << u"no such folder"_s;
    QTest::newRow("zero days") << QString() << QStringList{u"expires=0"_s} << u"--expires"_s;
    QTest::newRow("name in quotes") << u"\"q\""_s << none << u"in quotes"_s;
    QTest::newRow("name in single quotes") << u"data/'sq'"_s << none << u"in quotes"_s;
    QTest::newRow("part file name") << u".qvpart-abcdefgh"_s << none << u"their own files"_s;
    QTest::newRow("run log name") << u"data/quorvane.LOG"_s << none << u"their own files"_s;
    QTest::newRow("resume record name") << u"Quorvane.resume"_s << none << u"their own files"_s;
    QTest::newRow("lock name") << u"Quorvane.lock"_s << none << u"their own files"_s;
    QTest::newRow("name not UTF-8")
        << QString() << QStringList{u"rawname"_s} << u"not valid UTF-8"_s;
    QTest::newRow("Serial at its highest")
        << QString() << QStringList{u"serialmax"_s} << u"highest Serial is reached"_s;
    QTest::newRow("remembered Serial unreadable")
        << QString() << QStringList{u"serialgarbage"_s} << u"not a Serial"_s;
    QTest::newRow("link to a file elsewhere")
        << QString() << QStringList{u"link=host.txt"_s} << u"host.txt: is a link"_s;
    QTest::newRow("link to a folder elsewhere")
        << QString() << QStringList{u"link=data/elsewhere"_s} << u"data/elsewhere: is a link"_s;
}

void TestPublisher::badInputLeavesTheSiteAlone()
{
    QFETCH(QString, release);
    QFETCH(QStringList, change);
    QFETCH(QString, message);
    Workbench w;
    QCOMPARE(w.build(u"1.0"_s).status, 0);
    w.release.write(u"data/maps.dat"_s, "changed"); // something to publish
    if (!release.isEmpty())
        w.release.write(release, "x");
    const QMap<QString, QByteArray> before = w.site.snapshot();

    QString version = u"1.1"_s, key = w.keyFile(), releaseDir = w.release.path();
    QStringList more;
    for (const QString& c : change) {
        if (c.startsWith(u"version="_s))
            version = c.mid(8);
        if (c.startsWith(u"expires="_s))
            more << u"--expires"_s << c.mid(8);
        if (c == u"badkey"_s) {
            w.keys.write(u"bad.key"_s, "PublicKey=" + w.pair.publicKey.toBase64());
            key = w.keys.file(u"bad.key"_s);
        }
        if (c == u"nested"_s) {
            w.site.write(u"release/a.dat"_s, "a");
            releaseDir = w.site.file(u"release"_s);
        }
        if (c == u"norelease"_s)
            releaseDir = w.release.file(u"missing"_s);
        if (c == u"rawname"_s) {
            const QByteArray path = QFile::encodeName(w.release.path()) + "/bad\xff.dat";
            std::FILE* raw = std::fopen(path.constData(), "w");
            QVERIFY(raw != nullptr);
            std::fclose(raw);
        }
        if (c == u"serialmax"_s)
            w.site.write(
                u"info.ini"_s,
                w.site.read(u"info.ini"_s).replace("Serial=1", "Serial=9223372036854775807"));
        if (c == u"serialgarbage"_s)
            w.keys.write(u"site.key.serial"_s, "twelve");
        if (c.startsWith(u"link="_s)) {
            w.keys.write(u"outside/secret.txt"_s, "not for players");
            const QString to = c.endsWith(u".txt"_s) ? u"outside/secret.txt"_s : u"outside"_s;
            QVERIFY(QFile::link(w.keys.file(to), w.release.file(c.mid(5))));
        }
    }
    const QMap<QString, QByteArray> expected = w.site.snapshot();
    QStringList arguments{u"build"_s, releaseDir, w.site.path(), u"--version"_s, version};
    if (!change.contains(u"nosign"_s))
        arguments << u"--sign"_s << key;
    const Run run = publish(arguments + more);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(w.site.snapshot(), expected);
    QVERIFY(before.size() <= expected.size());
}

void TestPublisher::verifyCatches_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // empty: verify passes
    QTest::newRow("good site") << u"none"_s << QString();
    QTest::newRow("tampered file") << u"tamper"_s << u"do not have the manifest's hash"_s;
    QTest::newRow("file cut short") << u"truncate"_s << u"bytes on the site"_s;
    QTest::newRow("file missing") << u"remove"_s << u"missing on the site"_s;
    QTest::newRow("manifest edited") << u"manifest"_s << u"signature:"_s;
    QTest::newRow("signature of another key") << u"otherkey"_s << u"signature:"_s;
    QTest::newRow("signature file garbage") << u"garbage"_s << u"signature file"_s;
    QTest::newRow("file that is a link") << u"link"_s << u"maps.dat: is a link"_s;
    QTest::newRow("compressed copy tampered") << u"form"_s << u": form packed/"_s;
    QTest::newRow("compressed copy missing") << u"noform"_s << u"missing on the site"_s;
    QTest::newRow("patch base no longer kept") << u"base"_s << u"no longer keeps"_s;
}

void TestPublisher::verifyCatches()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    Workbench w;
    const QByteArray noise = testsupport::noise(20'000, 1);
    if (fault == u"base"_s) // a patch beats a compressed copy only for bytes that do not compress
        w.release.write(u"data/maps.dat"_s, noise);
    QCOMPARE(w.build(u"1.0"_s).status, 0);
    const QByteArray manifest = w.site.read(u"info.ini"_s);
    if (fault == u"tamper"_s)
        w.site.write(u"maps.dat"_s, QByteArray(4999, 'm') + 'M');
    else if (fault == u"truncate"_s)
        w.site.write(u"maps.dat"_s, QByteArray(4999, 'm'));
    else if (fault == u"remove"_s)
        QFile::remove(w.site.file(u"readme.txt"_s));
    else if (fault == u"manifest"_s)
        w.site.write(u"info.ini"_s, QByteArray(manifest).replace("Serial=1", "Serial=9"));
    else if (fault == u"otherkey"_s)
        w.site.write(u"info.ini.sig"_s,
                     verify::signatureFileText(
                         verify::sign(manifest, verify::generateKeyPair().value().secretKey)));
    else if (fault == u"garbage"_s)
        w.site.write(u"info.ini.sig"_s, "not a signature\n");
    const QStringList forms = QDir(w.site.file(u"packed"_s)).entryList({u"*.zst"_s}, QDir::Files);
    if (fault == u"form"_s || fault == u"noform"_s) {
        QVERIFY(!forms.isEmpty());
        const QString form = u"packed/"_s + forms.first();
        if (fault == u"noform"_s)
            QFile::remove(w.site.file(form));
        else
            w.site.write(form, QByteArray(w.site.read(form).size(), 'x'));
    } else if (fault == u"base"_s) {
        w.release.write(u"data/maps.dat"_s, QByteArray(noise).replace(100, 10, "0123456789"));
        QCOMPARE(w.build(u"1.1"_s, {u"--deltas"_s, u"1"_s}).status, 0);
        QVERIFY(w.site.read(u"info.ini"_s).contains("=patch:"));
        QDir bases(w.site.file(u"packed/bases"_s));
        for (const QString& name : bases.entryList(QDir::Files))
            QVERIFY(bases.remove(name));
    } else if (fault == u"link"_s) { // the same bytes, kept elsewhere
        w.keys.write(u"maps.dat"_s, w.site.read(u"maps.dat"_s));
        QFile::remove(w.site.file(u"maps.dat"_s));
        QVERIFY(QFile::link(w.keys.file(u"maps.dat"_s), w.site.file(u"maps.dat"_s)));
    }
    const Run run = w.verifySite();
    QCOMPARE(run.status, message.isEmpty() ? 0 : 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void TestPublisher::verifyReadsAsTheUpdater_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("message"); // of verify, once per entry (once for Max)
    QTest::addColumn<QString>("reading"); // the updater's reason for each entry; "" no count
    QTest::newRow("FileSize malformed") << u"(FileSize\\d+=)"_s << u"\\1x"_s
                                        << u"FileSize is malformed"_s << u"malformed FileSize"_s;
    QTest::newRow("FileHash malformed") << u"(FileHash\\d+=)"_s << u"\\1x"_s
                                        << u"FileHash is malformed"_s << u"malformed FileHash"_s;
    QTest::newRow("Max unusable") << u"Max=\\d+"_s << u"Max=-3"_s
                                  << u"Max is not a usable entry count"_s << QString();
}

// The publisher and the updater read a damaged manifest alike: what verify
// reports is what the updater's reading of the same bytes says, and a build
// refuses only what the updater cannot read at all.
void TestPublisher::verifyReadsAsTheUpdater()
{
    QFETCH(QString, pattern);
    QFETCH(QString, replacement);
    QFETCH(QString, message);
    QFETCH(QString, reading);
    Workbench w;
    QCOMPARE(w.build(u"1.0"_s).status, 0);
    const QByteArray bytes = QString::fromUtf8(w.site.read(u"info.ini"_s))
                                 .replace(QRegularExpression(pattern), replacement)
                                 .toUtf8();
    w.site.write(u"info.ini"_s, bytes);
    const Run run = publish({u"verify"_s, w.site.path()});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.count(message), reading.isEmpty() ? 1 : 3);
    const Manifest read = Manifest::parse(bytes);
    QCOMPARE(read.entryCount().has_value(), !reading.isEmpty());
    const QVector<ManifestEntry> entries = read.entries(read.entryCount().value_or(0));
    QCOMPARE(entries.size(), reading.isEmpty() ? 0 : 3);
    for (const ManifestEntry& e : entries)
        QVERIFY2(e.BadCheck.startsWith(reading), qPrintable(e.BadCheck));
    const Run build = w.build(u"1.1"_s);
    QCOMPARE(build.status, reading.isEmpty() ? 1 : 0);
    QVERIFY(!reading.isEmpty() || build.err.contains(message));
}

void TestPublisher::serialNeverGoesBack_data()
{
    QTest::addColumn<QByteArray>("edit"); // of the site's Serial line after two builds
    QTest::newRow("untouched") << "Serial=2"_ba;
    QTest::newRow("removed by hand") << QByteArray();
    QTest::newRow("lowered by hand") << "Serial=1"_ba;
    QTest::newRow("raised by hand") << "Serial=40"_ba;
}

// The third build signs a Serial above every one signed before, whatever the
// site's manifest says now.
void TestPublisher::serialNeverGoesBack()
{
    QFETCH(QByteArray, edit);
    Workbench w;
    QCOMPARE(w.build(u"1.0"_s).status, 0);
    w.release.write(u"new.dat"_s, "new");
    QCOMPARE(w.build(u"1.1"_s).status, 0);
    QCOMPARE(w.versionKey("Serial"), "2");
    QByteArray manifest = w.site.read(u"info.ini"_s);
    w.site.write(u"info.ini"_s,
                 manifest.replace("Serial=2\r\n",
                                  edit.isEmpty() ? QByteArray() : QByteArray(edit + "\r\n")));
    w.release.write(u"newer.dat"_s, "newer");
    const Run run = w.build(u"1.2"_s);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(w.versionKey("Serial"), edit == "Serial=40" ? "41" : "3");
    QCOMPARE(w.verifySite().status, 0);
}

void TestPublisher::signedBuildExpires_data()
{
    QTest::addColumn<QStringList>("more");
    QTest::addColumn<int>("days"); // -1: no Expires
    QTest::newRow("default") << QStringList() << 90;
    QTest::newRow("chosen") << QStringList{u"--expires"_s, u"7"_s} << 7;
    QTest::newRow("never") << QStringList{u"--expires=never"_s} << -1;
}

void TestPublisher::signedBuildExpires()
{
    QFETCH(QStringList, more);
    QFETCH(int, days);
    Workbench w;
    const Run run = w.build(u"1.0"_s, more);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const auto expires = verify::parseExpires(w.versionKey("Expires")).value;
    QCOMPARE(expires.has_value(), days >= 0);
    if (expires)
        QVERIFY(qAbs(expires->secsTo(Now.addDays(days))) <= 1);
    QCOMPARE(w.verifySite().status, 0);
}

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
