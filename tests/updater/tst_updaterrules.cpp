// The updater's self-contained rules: profile access limits, version order,
// progress arithmetic, address and name handling, entry counts.

#include "Inet.h"
#include "RecordingView.h"
#include "ScratchFolder.h"
#include "UpdateRules.h"
#include "UpdateSession.h"
#include "modINI.h"

#include <QFile>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Both file lists of the temp.ini and info.ini in `folder`, one entry long.
UpdateSession::RunState loadOneEntry(const QString& folder)
{
    Inet inet;
    testsupport::RecordingView view;
    UpdateSession session(folder, inet, view);
    session.setEntryCount(1);
    session.LoadManifests();
    return session.state();
}

} // namespace

class UpdaterRules : public QObject
{
    Q_OBJECT

private slots:
    void connectionsSetting_data();
    void connectionsSetting();
    void getIniOfMissingFileIsEmptyAndCreatesNothing();
    void getIniCutsAtCharacterBoundary_data();
    void getIniCutsAtCharacterBoundary();
    void eightBitFilesReadInTheirCodePage_data();
    void eightBitFilesReadInTheirCodePage();
    void writeIniCreatesMissingFile();
    void writeIniTakesFileLast();

    void versionOrder_data();
    void versionOrder();
    void percentIsExact_data();
    void percentIsExact();
    void sizesNeverWrap_data();
    void sizesNeverWrap();
    void webSiteNormalised_data();
    void webSiteNormalised();
    void remoteNameEncoded_data();
    void remoteNameEncoded();
    void unsafeEntries_data();
    void unsafeEntries();
    void entryCount_data();
    void entryCount();
};

void UpdaterRules::getIniOfMissingFileIsEmptyAndCreatesNothing()
{
    testsupport::ScratchFolder folder;
    const QString file = folder.file(u"info.ini"_s);
    QCOMPARE(modINI::GetINI(file, u"VERSION"_s, u"Version"_s), QString());
    QVERIFY(!QFile::exists(file));
}

void UpdaterRules::getIniCutsAtCharacterBoundary_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    const QString a4998(4998, u'a');
    QTest::newRow("exactly the limit") << QString(4999, u'a') << QString(4999, u'a');
    QTest::newRow("longer ascii") << QString(6000, u'b') << QString(4999, u'b');
    // "é" takes two bytes: bytes 4999 and 5000 would split it.
    QTest::newRow("two-byte character across the limit") << a4998 + u"éz"_s << a4998;
    QTest::newRow("two-byte character ending at the limit")
        << QString(4997, u'a') + u"éz"_s << QString(4997, u'a') + u"é"_s;
    QTest::newRow("three-byte character across the limit")
        << QString(4997, u'a') + u"€z"_s << QString(4997, u'a');
    QTest::newRow("four-byte character across the limit")
        << QString(4996, u'a') + u"😀"_s << QString(4996, u'a');
}

void UpdaterRules::getIniCutsAtCharacterBoundary()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    testsupport::ScratchFolder folder;
    QVERIFY(folder.write(u"big.ini"_s, "[S]\r\nk="_ba + value.toUtf8() + "\r\n"_ba));
    const QString read = modINI::GetINI(folder.file(u"big.ini"_s), u"S"_s, u"k"_s);
    QVERIFY(read.toUtf8().size() <= modINI::MaxValueBytes);
    QCOMPARE(read, expected);

    // The manifests are read through the same cut, both of them.
    const QByteArray text = value.toUtf8();
    QVERIFY(folder.write(u"temp.ini"_s,
                         "[FILES]\r\nFileName1="_ba + text + "\r\nFileVersion1=2\r\n"_ba));
    QVERIFY(folder.write(u"info.ini"_s, "[VERSION]\r\nMax=1\r\n[FILES]\r\nFileName1="_ba + text +
                                            "\r\nFileVersion1="_ba + text + "\r\n"_ba));
    const UpdateSession::RunState loaded = loadOneEntry(folder.path());
    QCOMPARE(loaded.RemoteEntries.at(0).FileName, expected);
    QCOMPARE(loaded.LocalEntries.at(0).FileName, expected);
    QCOMPARE(loaded.LocalEntries.at(0).FileVersion, expected);
}

void UpdaterRules::writeIniCreatesMissingFile()
{
    testsupport::ScratchFolder folder;
    QVERIFY(modINI::WriteINI(folder.file(u"Updater.ini"_s), u"UPDATER"_s, u"WebSite"_s, QString()));
    QCOMPARE(folder.read(u"Updater.ini"_s), "[UPDATER]\r\nWebSite=\r\n"_ba);
}

void UpdaterRules::writeIniTakesFileLast()
{
    testsupport::ScratchFolder folder;
    const QString file = folder.file(u"a.ini"_s);
    QVERIFY(modINI::WriteINI(file, u"SEC"_s, u"Key"_s, u"value one"_s));
    QCOMPARE(modINI::GetINI(file, u"sec"_s, u"KEY"_s), u"value one"_s);
    QVERIFY(!modINI::WriteINI(file, u"SEC"_s, u"Key"_s, u"two\nlines"_s));
    QCOMPARE(folder.read(u"a.ini"_s), "[SEC]\r\nKey=value one\r\n"_ba);
}

void UpdaterRules::versionOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");

    QTest::newRow("1.10 after 1.9") << u"1.10"_s << u"1.9"_s << 1;
    QTest::newRow("10 after 2") << u"10"_s << u"2"_s << 1;
    QTest::newRow("1.1 after 1.0") << u"1.1"_s << u"1.0"_s << 1;
    QTest::newRow("equal") << u"2.0.3"_s << u"2.0.3"_s << 0;
    QTest::newRow("both empty") << QString() << QString() << 0;
    QTest::newRow("anything after empty") << u"0"_s << QString() << 1;
    QTest::newRow("prefix sorts before") << u"1.2"_s << u"1.2.1"_s << -1;
    QTest::newRow("letters by code unit") << u"1.0b"_s << u"1.0a"_s << 1;
    QTest::newRow("case matters") << u"a"_s << u"B"_s << 1;
    QTest::newRow("leading zeros, same value, still unequal") << u"1.01"_s << u"1.1"_s << -1;
    QTest::newRow("long digit runs")
        << u"99999999999999999999999"_s << u"99999999999999999999998"_s << 1;
    QTest::newRow("digit runs before letters") << u"1a"_s << u"12"_s << -1;
}

void UpdaterRules::versionOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(updaterules::compareVersions(a, b), order);
    QCOMPARE(updaterules::compareVersions(b, a), -order);
    QCOMPARE(updaterules::sortsAfter(a, b), order > 0);
}

void UpdaterRules::percentIsExact_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("percent");

    QTest::newRow("29696 of 102400") << qint64(29696) << qint64(102400) << 29;
    QTest::newRow("1024 of 2500") << qint64(1024) << qint64(2500) << 40;
    QTest::newRow("2048 of 2500") << qint64(2048) << qint64(2500) << 81;
    QTest::newRow("all") << qint64(2500) << qint64(2500) << 100;
    QTest::newRow("one short of all") << qint64(999) << qint64(1000) << 99;
    QTest::newRow("beyond 2^31") << qint64(3221225472) << qint64(4294967296) << 75;
    QTest::newRow("huge size") << qint64(1) << std::numeric_limits<qint64>::max() << 0;
    QTest::newRow("huge received")
        << std::numeric_limits<qint64>::max() / 2 << std::numeric_limits<qint64>::max() << 49;
}

void UpdaterRules::percentIsExact()
{
    QFETCH(qint64, received);
    QFETCH(qint64, size);
    QFETCH(int, percent);
    QCOMPARE(updaterules::percentOf(received, size), percent);
}

void UpdaterRules::sizesNeverWrap_data()
{
    constexpr qint64 Max = std::numeric_limits<qint64>::max();
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<qint64>("sum");
    QTest::newRow("small") << QList<qint64>{1, 2, 3} << qint64(6);
    QTest::newRow("two of 2^63-1") << QList<qint64>{Max, Max} << Max;
    QTest::newRow("just fits") << QList<qint64>{Max - 5, 5} << Max;
    QTest::newRow("one past, then more") << QList<qint64>{Max - 5, 6, 1} << Max;
    QTest::newRow("negative never shrinks") << QList<qint64>{100, -200} << Max;
}

// The free-space check adds the manifest's sizes; a sum that wrapped would
// look small enough to fit.
void UpdaterRules::sizesNeverWrap()
{
    QFETCH(QList<qint64>, sizes);
    QFETCH(qint64, sum);
    qint64 total = 0;
    for (qint64 size : sizes)
        total = updaterules::addSizes(total, size);
    QCOMPARE(total, sum);
}

void UpdaterRules::webSiteNormalised_data()
{
    QTest::addColumn<QString>("webSite");
    QTest::addColumn<QString>("baseUrl");

    QTest::newRow("bare host") << u"example.test/game"_s << u"http://example.test/game/"_s;
    QTest::newRow("complete") << u"http://example.test/g/"_s << u"http://example.test/g/"_s;
    QTest::newRow("https kept") << u"https://example.test/g"_s << u"https://example.test/g/"_s;
    QTest::newRow("capital scheme kept") << u"HTTP://example.test/"_s << u"HTTP://example.test/"_s;
    QTest::newRow("mixed-case https") << u"HtTpS://example.test"_s << u"HtTpS://example.test/"_s;
    QTest::newRow("blanks trimmed") << u"  example.test/g/ \t"_s << u"http://example.test/g/"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only blanks") << u"   "_s << QString();
}

void UpdaterRules::webSiteNormalised()
{
    QFETCH(QString, webSite);
    QFETCH(QString, baseUrl);
    QCOMPARE(updaterules::normaliseWebSite(webSite), baseUrl);
}

void UpdaterRules::remoteNameEncoded_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("plain") << u"game.dat"_s << "game.dat"_ba;
    QTest::newRow("blank") << u"my file.dat"_s << "my%20file.dat"_ba;
    QTest::newRow("hash and query") << u"a#1?.dat"_s << "a%231%3F.dat"_ba;
    QTest::newRow("percent") << u"100%.txt"_s << "100%25.txt"_ba;
    QTest::newRow("slash kept") << u"data/x.pak"_s << "data/x.pak"_ba;
    QTest::newRow("non-ascii") << u"é.txt"_s << "%C3%A9.txt"_ba;
}

void UpdaterRules::remoteNameEncoded()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, encoded);
    QCOMPARE(updaterules::encodeRemoteName(name), encoded);
}

void UpdaterRules::unsafeEntries_data()
{
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("unsafe");

    QTest::newRow("plain") << QString() << u"game.dat"_s << false;
    QTest::newRow("folder with separators") << u"\\data\\"_s << u"a.pak"_s << false;
    QTest::newRow("slash folder") << u"/data"_s << u"a.pak"_s << false;
    QTest::newRow("single separator folder") << u"\\"_s << u"a.pak"_s << false;
    QTest::newRow("nested folder") << u"data\\maps/big"_s << u"m.map"_s << false;
    QTest::newRow("name with folder") << QString() << u"data/a.pak"_s << false;
    QTest::newRow("dots inside names") << u"v1..2"_s << u"a..b"_s << false;
    QTest::newRow("parent in folder") << u"..\\.."_s << u"a.pak"_s << true;
    QTest::newRow("parent in middle") << u"data/../../x"_s << u"a.pak"_s << true;
    QTest::newRow("parent in name") << QString() << u"../evil.exe"_s << true;
    QTest::newRow("windows-trimmed parent") << u"data/.. "_s << u"a.pak"_s << true;
    QTest::newRow("three dots") << u"..."_s << u"a.pak"_s << true;
    QTest::newRow("absolute name") << QString() << u"/etc/passwd"_s << true;
    QTest::newRow("absolute name backslash") << QString() << u"\\Windows\\x.dll"_s << true;
    QTest::newRow("drive in folder") << u"C:\\Windows"_s << u"x.dll"_s << true;
    QTest::newRow("drive-relative folder") << u"C:"_s << u"x.dll"_s << true;
    QTest::newRow("drive in name") << QString() << u"D:x.dll"_s << true;
    QTest::newRow("UNC folder") << u"\\\\server\\share"_s << u"x.dll"_s << true;
    QTest::newRow("UNC folder slashes") << u"//server/share"_s << u"x.dll"_s << true;
    QTest::newRow("stream name") << QString() << u"a.dat:evil"_s << true;
    QTest::newRow("folder as name") << QString() << u"data/"_s << true;
    QTest::newRow("dot name") << QString() << u"."_s << true;
    QTest::newRow("NUL") << QString() << u"a\0b"_s << true;
}

void UpdaterRules::unsafeEntries()
{
    QFETCH(QString, filePath);
    QFETCH(QString, fileName);
    QFETCH(bool, unsafe);
    QCOMPARE(updaterules::isUnsafeEntry(filePath, fileName), unsafe);
}

void UpdaterRules::connectionsSetting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("connections");
    QTest::newRow("missing") << QString() << 4;
    QTest::newRow("one") << u"1"_s << 1;
    QTest::newRow("sixteen, blanks around") << u" 16 "_s << 16;
    QTest::newRow("zero") << u"0"_s << 4;
    QTest::newRow("seventeen") << u"17"_s << 4;
    QTest::newRow("signed") << u"+3"_s << 4;
    QTest::newRow("hex") << u"&H8"_s << 4;
    QTest::newRow("fraction") << u"2.5"_s << 4;
}

void UpdaterRules::connectionsSetting()
{
    QFETCH(QString, text);
    QFETCH(int, connections);
    QCOMPARE(UpdateSession::connectionsFrom(text), connections);
}

void UpdaterRules::entryCount_data()
{
    QTest::addColumn<QString>("max");
    QTest::addColumn<int>("count"); // -1: unusable

    QTest::newRow("plain") << u"3"_s << 3;
    QTest::newRow("missing") << QString() << 0;
    QTest::newRow("hex") << u"&H10"_s << 16;
    QTest::newRow("blanks and fraction") << u" 1 2.5"_s << 12;
    QTest::newRow("half to even") << u"2.5"_s << 2;
    QTest::newRow("limit") << u"1000000"_s << 1000000;
    QTest::newRow("above limit") << u"1000001"_s << -1;
    QTest::newRow("negative") << u"-1"_s << -1;
    QTest::newRow("beyond 32 bits") << u"99999999999"_s << -1;
    QTest::newRow("hex negative") << u"&HFFFF"_s << -1;
    QTest::newRow("garbage") << u"lots"_s << 0;
}

void UpdaterRules::entryCount()
{
    QFETCH(QString, max);
    QFETCH(int, count);
    const std::optional<std::int32_t> result = updaterules::entryCountFromMax(max);
    QCOMPARE(result.has_value(), count >= 0);
    if (result)
        QCOMPARE(*result, count);
}

// Updater.ini and both manifests as a Western Windows writes them: one byte
// per character, cut at the limit byte-wise.
void UpdaterRules::eightBitFilesReadInTheirCodePage_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("latin-1") << "caf\xE9.dat"_ba << u"caf\u00e9.dat"_s;
    // 0xA9 looks like a UTF-8 continuation byte; a UTF-8 cut would drop it all.
    QTest::newRow("cut at the limit") << QByteArray(6000, '\xA9') << QString(4999, u'\u00a9');
}

void UpdaterRules::eightBitFilesReadInTheirCodePage()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    testsupport::ScratchFolder folder;
    QVERIFY(folder.write(u"Updater.ini"_s, "[UPDATER]\r\nWebSite="_ba + value + "\r\n"_ba));
    QCOMPARE(modINI::GetINI(folder.file(u"Updater.ini"_s), u"UPDATER"_s, u"WebSite"_s), expected);

    const QByteArray entry = "[FILES]\r\nFileName1="_ba + value + "\r\nFileVersion1=2\r\n"_ba;
    QVERIFY(folder.write(u"temp.ini"_s, entry));
    QVERIFY(folder.write(u"info.ini"_s, "[VERSION]\r\nMax=1\r\n"_ba + entry));
    const UpdateSession::RunState loaded = loadOneEntry(folder.path());
    QCOMPARE(loaded.RemoteEntries.at(0).FileName, expected);
    QCOMPARE(loaded.LocalEntries.at(0).FileName, expected);
}

QTEST_GUILESS_MAIN(UpdaterRules)
#include "tst_updaterrules.moc"
