// The strict manifest keys, the judgement of a signed manifest against the
// installed one, and the streaming size and hash check.

#include "Ed25519.h"
#include "ManifestCheck.h"
#include "ManifestKeys.h"
#include "Sha256.h"
#include "StreamCheck.h"

#include <QCryptographicHash>
#include <QTimeZone>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace verify;

namespace {

const QDateTime Now(QDate(2030, 6, 1), QTime(12, 0), QTimeZone::utc());

QByteArray manifest(const QByteArray& versionKeys, const QByteArray& files = "FileName1=a.dat")
{
    return "[VERSION]\r\nVersion=2.0\r\nMax=1\r\n" + versionKeys + "\r\n[FILES]\r\n" + files +
           "\r\n";
}

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

class TestManifestCheck : public QObject
{
    Q_OBJECT

private slots:
    void numbers_data();
    void numbers();
    void fileHash_data();
    void fileHash();
    void expires_data();
    void expires();
    void judgement_data();
    void judgement();
    void stream_data();
    void stream();
    void sha256Pieces_data();
    void sha256Pieces();
};

void TestManifestCheck::numbers_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("present");
    QTest::addColumn<qint64>("expected"); // -1: malformed
    QTest::newRow("absent") << QByteArray() << false << qint64(-1);
    QTest::newRow("zero") << QByteArray("0") << true << qint64(0);
    QTest::newRow("plain") << QByteArray("2500") << true << qint64(2500);
    QTest::newRow("leading zero") << QByteArray("007") << true << qint64(7);
    QTest::newRow("int64 max") << QByteArray("9223372036854775807") << true
                               << std::numeric_limits<qint64>::max();
    QTest::newRow("past int64") << QByteArray("9223372036854775808") << true << qint64(-1);
    QTest::newRow("far past int64") << QByteArray(40, '9') << true << qint64(-1);
    QTest::newRow("empty") << QByteArray("") << true << qint64(-1);
    QTest::newRow("sign") << QByteArray("+5") << true << qint64(-1);
    QTest::newRow("negative") << QByteArray("-5") << true << qint64(-1);
    QTest::newRow("fraction") << QByteArray("5.0") << true << qint64(-1);
    QTest::newRow("hex") << QByteArray("&H10") << true << qint64(-1);
    QTest::newRow("blank inside") << QByteArray("1 0") << true << qint64(-1);
    QTest::newRow("exponent") << QByteArray("1e3") << true << qint64(-1);
}

void TestManifestCheck::numbers()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, present);
    QFETCH(qint64, expected);
    const std::optional<QByteArray> raw = present ? std::optional(value) : std::nullopt;
    for (const OptionalKey<qint64>& key : {parseFileSize(raw), parseSerial(raw)}) {
        QCOMPARE(key.absent(), !present);
        QCOMPARE(key.malformed, present && expected < 0);
        QCOMPARE(key.value.has_value(), expected >= 0);
        if (key.value)
            QCOMPARE(*key.value, expected);
    }
}

void TestManifestCheck::fileHash_data()
{
    const QByteArray good = sha("abc").toHex();
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("ok");
    QTest::newRow("lower case") << good << true;
    QTest::newRow("upper case") << good.toUpper() << false;
    QTest::newRow("63 digits") << good.chopped(1) << false;
    QTest::newRow("65 digits") << good + '0' << false;
    QTest::newRow("not hex") << good.chopped(1) + 'g' << false;
    QTest::newRow("blank inside") << good.left(32) + ' ' + good.mid(33) << false;
}

void TestManifestCheck::fileHash()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, ok);
    const auto key = parseFileHash(value);
    QCOMPARE(key.malformed, !ok);
    if (ok)
        QCOMPARE(*key.value, sha("abc"));
    QVERIFY(parseFileHash(std::nullopt).absent());
}

void TestManifestCheck::expires_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QDateTime>("expected"); // invalid: malformed
    QTest::newRow("good") << QByteArray("2030-06-01T12:00:00Z") << Now;
    QTest::newRow("leap day") << QByteArray("2028-02-29T23:59:59Z")
                              << QDateTime(QDate(2028, 2, 29), QTime(23, 59, 59), QTimeZone::utc());
    QTest::newRow("no leap day") << QByteArray("2030-02-29T00:00:00Z") << QDateTime();
    QTest::newRow("month 13") << QByteArray("2030-13-01T00:00:00Z") << QDateTime();
    QTest::newRow("hour 24") << QByteArray("2030-06-01T24:00:00Z") << QDateTime();
    QTest::newRow("leap second") << QByteArray("2030-06-30T23:59:60Z") << QDateTime();
    QTest::newRow("no zone") << QByteArray("2030-06-01T12:00:00") << QDateTime();
    QTest::newRow("offset") << QByteArray("2030-06-01T12:00:00+01:00") << QDateTime();
    QTest::newRow("fraction") << QByteArray("2030-06-01T12:00:00.5Z") << QDateTime();
    QTest::newRow("lower case") << QByteArray("2030-06-01t12:00:00z") << QDateTime();
    QTest::newRow("blank for T") << QByteArray("2030-06-01 12:00:00Z") << QDateTime();
    QTest::newRow("sign in field") << QByteArray("2030-+6-01T12:00:00Z") << QDateTime();
    QTest::newRow("short") << QByteArray("2030-6-1T12:00:00Z") << QDateTime();
}

void TestManifestCheck::expires()
{
    QFETCH(QByteArray, value);
    QFETCH(QDateTime, expected);
    const auto key = parseExpires(value);
    QCOMPARE(key.malformed, !expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(*key.value, expected);
        QCOMPARE(formatExpires(*key.value), value);
    }
}

void TestManifestCheck::judgement_data()
{
    QTest::addColumn<QByteArray>("incoming");
    QTest::addColumn<QByteArray>("installed"); // "-": no installed manifest
    QTest::addColumn<bool>("signedByOther");
    QTest::addColumn<ManifestVerdict>("verdict");
    const QByteArray s5 = manifest("Serial=5\r\n");
    const QByteArray s5b = manifest("Serial=5\r\n", "FileName1=b.dat");
    const QByteArray s4 = manifest("Serial=4\r\n");
    const QByteArray s6 = manifest("Serial=6\r\nExpires=2030-06-01T12:00:01Z\r\n");
    using V = ManifestVerdict;
    QTest::newRow("first install") << s5 << QByteArray("-") << false << V::Accepted;
    QTest::newRow("newer serial, expires in a second") << s6 << s5 << false << V::Accepted;
    QTest::newRow("same manifest again") << s5 << s5 << false << V::Accepted;
    QTest::newRow("installed has no serial")
        << s4 << manifest("Version=1.0\r\n") << false << V::Accepted;
    QTest::newRow("rollback") << s4 << s5 << false << V::Rollback;
    QTest::newRow("mix-and-match") << s5b << s5 << false << V::MixAndMatch;
    QTest::newRow("expired") << manifest("Serial=6\r\nExpires=2030-06-01T11:59:59Z\r\n") << s5
                             << false << V::Expired;
    QTest::newRow("expires now") << manifest("Serial=6\r\nExpires=2030-06-01T12:00:00Z\r\n") << s5
                                 << false << V::Expired;
    QTest::newRow("signed by another key") << s6 << s5 << true << V::BadSignature;
    QTest::newRow("no serial") << manifest("") << QByteArray("-") << false << V::SerialMissing;
    QTest::newRow("serial not a number")
        << manifest("Serial=5a\r\n") << QByteArray("-") << false << V::SerialMalformed;
    QTest::newRow("expires malformed") << manifest("Serial=6\r\nExpires=2031-01-01\r\n")
                                       << QByteArray("-") << false << V::ExpiresMalformed;
}

void TestManifestCheck::judgement()
{
    QFETCH(QByteArray, incoming);
    QFETCH(QByteArray, installed);
    QFETCH(bool, signedByOther);
    QFETCH(ManifestVerdict, verdict);
    const KeyPair trusted = generateKeyPair().value();
    const KeyPair other = generateKeyPair().value();
    const QByteArray signature =
        signatureFileText(sign(incoming, signedByOther ? other.secretKey : trusted.secretKey));
    const auto installedBytes = installed == "-" ? std::nullopt : std::optional(installed);
    const ManifestJudgement j =
        judgeSignedManifest(incoming, signature, {trusted.publicKey}, installedBytes, Now);
    QCOMPARE(j.verdict, verdict);
    QCOMPARE(j.reason.isEmpty(), j.accepted());
}

void TestManifestCheck::stream_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<qint64>("size"); // -1: not given
    QTest::addColumn<bool>("withHash");
    QTest::addColumn<int>("refusedAt"); // chunk whose feed() fails; -1: none
    QTest::addColumn<StreamVerdict>("verdict");
    const QList<QByteArray> body{QByteArray(1024, 'a'), QByteArray(1024, 'b'), "tail"};
    using V = StreamVerdict;
    QTest::newRow("exact, size and hash") << body << qint64(2052) << true << -1 << V::Ok;
    QTest::newRow("no expectations") << body << qint64(-1) << false << -1 << V::Ok;
    QTest::newRow("hash only") << body << qint64(-1) << true << -1 << V::Ok;
    QTest::newRow("one byte too many, last chunk")
        << body << qint64(2051) << true << 2 << V::TooLong;
    QTest::newRow("too long in the first chunk") << body << qint64(100) << false << 0 << V::TooLong;
    QTest::newRow("ends short") << body << qint64(2053) << true << -1 << V::TooShort;
    QTest::newRow("empty body, size given")
        << QList<QByteArray>{} << qint64(1) << false << -1 << V::TooShort;
    QTest::newRow("damaged byte") << QList<QByteArray>{body[0], "B" + body[1].mid(1), body[2]}
                                  << qint64(2052) << true << -1 << V::HashMismatch;
    QTest::newRow("same bytes, other chunks")
        << QList<QByteArray>{body[0] + body[1].left(5), body[1].mid(5) + body[2]} << qint64(2052)
        << true << -1 << V::Ok;
}

void TestManifestCheck::stream()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(qint64, size);
    QFETCH(bool, withHash);
    QFETCH(int, refusedAt);
    QFETCH(StreamVerdict, verdict);
    const QByteArray whole = QByteArray(1024, 'a') + QByteArray(1024, 'b') + "tail";
    StreamCheck check(size >= 0 ? std::optional(size) : std::nullopt,
                      withHash ? std::optional(sha(whole)) : std::nullopt);
    int firstRefused = -1;
    for (int i = 0; i < chunks.size(); ++i) {
        if (!check.feed(chunks[i]) && firstRefused < 0)
            firstRefused = i;
    }
    QCOMPARE(firstRefused, refusedAt);
    QCOMPARE(check.exceeded(), refusedAt >= 0);
    const StreamResult result = check.finish();
    QCOMPARE(result.verdict, verdict);
    QCOMPARE(result.reason.isEmpty(), result.ok());
}

void TestManifestCheck::sha256Pieces_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one block less a byte") << 63 << 7;
    QTest::newRow("block boundary") << 128 << 64;
    QTest::newRow("a megabyte and odd pieces") << (1 << 20) + 3 << 4093;
}

// Pieces of any size give the digest of the whole; asking for the digest on
// the way does not disturb what follows.
void TestManifestCheck::sha256Pieces()
{
    QFETCH(int, size);
    QFETCH(int, piece);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 7) & 0xFF);
    Sha256 running;
    for (int at = 0; at < size; at += piece) {
        running.add(QByteArrayView(bytes).sliced(at, std::min(piece, size - at)));
        if (at == 0)
            QCOMPARE(running.result(), sha(bytes.left(std::min(piece, size))));
    }
    QCOMPARE(running.result(), sha(bytes));
    QCOMPARE(Sha256::hash(bytes), sha(bytes));
}

QTEST_GUILESS_MAIN(TestManifestCheck)
#include "tst_manifestcheck.moc"
