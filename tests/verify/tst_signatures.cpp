// Ed25519 keys and signatures, their text forms, and the secret key file.

#include "Ed25519.h"
#include "ScratchFolder.h"
#include "SecretKeyFile.h"

#include <QFile>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace verify;

namespace {

// Two published Ed25519 test vectors: seed, public key, message, signature.
struct Vector
{
    const char* seed;
    const char* publicKey;
    const char* message;
    const char* signature;
};
constexpr Vector Vectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39"
     "701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f36"
     "13d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
};

SecretKey vectorKey(const Vector& v)
{
    return *SecretKey::fromBytes(
        QByteArray(QByteArray::fromHex(v.seed) + QByteArray::fromHex(v.publicKey)));
}

KeyPair newPair()
{
    auto pair = generateKeyPair();
    Q_ASSERT(pair);
    return pair.value();
}

} // namespace

class TestSignatures : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswers_data();
    void knownAnswers();
    void secretKeyHalvesMustBelongTogether();
    void manifestSignature_data();
    void manifestSignature();
    void publicKeyList_data();
    void publicKeyList();
    void secretKeyFileText_data();
    void secretKeyFileText();
    void keyFileIsPrivateAndNeverReplaced();
};

void TestSignatures::knownAnswers_data()
{
    QTest::addColumn<int>("vector");
    QTest::newRow("empty message") << 0;
    QTest::newRow("one byte") << 1;
}

void TestSignatures::knownAnswers()
{
    QFETCH(int, vector);
    const Vector& v = Vectors[vector];
    const SecretKey key = vectorKey(v);
    const QByteArray message = QByteArray::fromHex(v.message);
    QCOMPARE(key.publicKey().bytes(), QByteArray::fromHex(v.publicKey));
    const QByteArray signature = sign(message, key);
    QCOMPARE(signature, QByteArray::fromHex(v.signature));
    QVERIFY(verifySignature(message, signature, key.publicKey()));
    QVERIFY(!verifySignature(QByteArray(message + 'x'), signature, key.publicKey()));
}

void TestSignatures::secretKeyHalvesMustBelongTogether()
{
    const QByteArray seed = QByteArray::fromHex(Vectors[0].seed);
    QVERIFY(SecretKey::fromBytes(QByteArray(seed + QByteArray::fromHex(Vectors[0].publicKey))));
    QVERIFY(!SecretKey::fromBytes(QByteArray(seed + QByteArray::fromHex(Vectors[1].publicKey))));
    QVERIFY(!SecretKey::fromBytes(seed));
}

void TestSignatures::manifestSignature_data()
{
    QTest::addColumn<QByteArray>("signatureFile"); // "GOOD" is replaced by the real signature
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<int>("keys"); // 0: none, 1: the signer, 2: another key then the signer,
                                   // 3: another key only
    QTest::addColumn<bool>("ok");
    const QByteArray m = "[VERSION]\r\nVersion=1.1\r\nSerial=4\r\n";
    QTest::newRow("good") << QByteArray("GOOD") << m << 1 << true;
    QTest::newRow("good, LF") << QByteArray("GOOD\n") << m << 1 << true;
    QTest::newRow("good, CRLF") << QByteArray("GOOD\r\n") << m << 1 << true;
    QTest::newRow("second key matches") << QByteArray("GOOD") << m << 2 << true;
    QTest::newRow("wrong key") << QByteArray("GOOD") << m << 3 << false;
    QTest::newRow("no key") << QByteArray("GOOD") << m << 0 << false;
    QByteArray tampered = m;
    tampered[tampered.size() - 3] = '5';
    QTest::newRow("tampered byte") << QByteArray("GOOD") << tampered << 1 << false;
    QTest::newRow("one more byte") << QByteArray("GOOD") << m + "\r\n" << 1 << false;
    QTest::newRow("two line ends") << QByteArray("GOOD\n\n") << m << 1 << false;
    QTest::newRow("blank after") << QByteArray("GOOD ") << m << 1 << false;
    QTest::newRow("blank before") << QByteArray(" GOOD") << m << 1 << false;
    QTest::newRow("CR only") << QByteArray("GOOD\r") << m << 1 << false;
    QTest::newRow("second line") << QByteArray("GOOD\nGOOD") << m << 1 << false;
    QTest::newRow("empty") << QByteArray() << m << 1 << false;
    QTest::newRow("too short") << QByteArray("AAAA") << m << 1 << false;
    QTest::newRow("not base64") << QByteArray(88, '*') << m << 1 << false;
}

void TestSignatures::manifestSignature()
{
    QFETCH(QByteArray, signatureFile);
    QFETCH(QByteArray, manifest);
    QFETCH(int, keys);
    QFETCH(bool, ok);
    const KeyPair signer = newPair();
    const KeyPair other = newPair();
    const QByteArray original = "[VERSION]\r\nVersion=1.1\r\nSerial=4\r\n";
    signatureFile.replace("GOOD", sign(original, signer.secretKey).toBase64());
    QList<PublicKey> list;
    if (keys == 2 || keys == 3)
        list.append(other.publicKey);
    if (keys == 1 || keys == 2)
        list.append(signer.publicKey);
    const Check check = verifyManifest(manifest, signatureFile, list);
    QCOMPARE(check.ok, ok);
    QCOMPARE(check.reason.isEmpty(), ok);
}

void TestSignatures::publicKeyList_data()
{
    const QByteArray a = QByteArray::fromHex(Vectors[0].publicKey).toBase64();
    const QByteArray b = QByteArray::fromHex(Vectors[1].publicKey).toBase64();
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("count"); // -1: refused
    QTest::newRow("one") << a << 1;
    QTest::newRow("two") << a + ',' + b << 2;
    QTest::newRow("blanks around") << " \t" + a + " , " + b + ' ' << 2;
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("blanks only") << QByteArray("  ") << -1;
    QTest::newRow("three") << a + ',' + b + ',' + a << -1;
    QTest::newRow("trailing comma") << a + ',' << -1;
    QTest::newRow("blank inside key") << a.left(10) + ' ' + a.mid(10) << -1;
    QTest::newRow("31 bytes") << QByteArray(31, 'k').toBase64() << -1;
    QTest::newRow("33 bytes") << QByteArray(33, 'k').toBase64() << -1;
    QTest::newRow("no padding") << a.chopped(1) << -1;
    // The last character carries bits past the key's end: not the canonical text.
    QTest::newRow("non-canonical") << a.chopped(2) + "B=" << -1;
    QTest::newRow("secret key") << QByteArray(64, 's').toBase64() << -1;
}

void TestSignatures::publicKeyList()
{
    QFETCH(QByteArray, value);
    QFETCH(int, count);
    const auto keys = parsePublicKeyList(value);
    QCOMPARE(bool(keys), count >= 0);
    if (count >= 0)
        QCOMPARE(keys.value().size(), count);
    else
        QVERIFY(!keys.reason().isEmpty());
}

void TestSignatures::secretKeyFileText_data()
{
    const QByteArray key =
        QByteArray(QByteArray::fromHex(Vectors[0].seed) + QByteArray::fromHex(Vectors[0].publicKey))
            .toBase64();
    const QByteArray damaged =
        QByteArray(QByteArray::fromHex(Vectors[0].seed) + QByteArray::fromHex(Vectors[1].publicKey))
            .toBase64();
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("LF") << QByteArray(SecretKeyHeader) + '\n' + key + '\n' << true;
    QTest::newRow("CRLF") << QByteArray(SecretKeyHeader) + "\r\n" + key + "\r\n" << true;
    QTest::newRow("no final line end") << QByteArray(SecretKeyHeader) + '\n' + key << true;
    QTest::newRow("no header") << key + '\n' << false;
    QTest::newRow("other header") << "secret key\n" + key + '\n' << false;
    QTest::newRow("extra line") << QByteArray(SecretKeyHeader) + '\n' + key + "\n\n" << false;
    QTest::newRow("public key only")
        << QByteArray(SecretKeyHeader) + '\n' + QByteArray(32, 'p').toBase64() << false;
    QTest::newRow("halves of two keys") << QByteArray(SecretKeyHeader) + '\n' + damaged << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestSignatures::secretKeyFileText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    const auto key = parseSecretKeyFile(text);
    QCOMPARE(bool(key), ok);
    if (ok)
        QCOMPARE(key.value().publicKey().bytes(), QByteArray::fromHex(Vectors[0].publicKey));
}

void TestSignatures::keyFileIsPrivateAndNeverReplaced()
{
    testsupport::ScratchFolder folder;
    const QString path = folder.file(u"publisher.key"_s);
    const KeyPair pair = newPair();
    QVERIFY(writeNewSecretKeyFile(path, pair.secretKey));
    QCOMPARE(QFile::permissions(path) &
                 ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
             QFileDevice::Permissions());
    const QByteArray written = folder.read(u"publisher.key"_s);

    const Check again = writeNewSecretKeyFile(path, newPair().secretKey);
    QVERIFY(!again);
    QVERIFY(again.reason.contains(u"exists"_s));
    QCOMPARE(folder.read(u"publisher.key"_s), written);

    const auto read = readSecretKeyFile(path);
    QVERIFY2(read, qPrintable(read.reason()));
    QCOMPARE(read.value().publicKey(), pair.publicKey);
    const QByteArray message = "release 7";
    QVERIFY(verifySignature(message, sign(message, read.value()), pair.publicKey));
}

QTEST_GUILESS_MAIN(TestSignatures)
#include "tst_signatures.moc"
