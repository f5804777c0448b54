#include "Ed25519.h"

#include <sodium.h>

using namespace Qt::StringLiterals;

namespace verify {

static_assert(PublicKeyBytes == crypto_sign_PUBLICKEYBYTES);
static_assert(SecretKeyBytes == crypto_sign_SECRETKEYBYTES);
static_assert(SignatureBytes == crypto_sign_BYTES);

namespace {

const unsigned char* bytesOf(QByteArrayView view)
{
    return reinterpret_cast<const unsigned char*>(view.data());
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

} // namespace

bool cryptoReady()
{
    // sodium_init() is safe to call from several threads and more than once;
    // the answer is kept so it runs once.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::optional<PublicKey> PublicKey::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != PublicKeyBytes)
        return std::nullopt;
    return PublicKey(bytes.toByteArray());
}

std::optional<SecretKey> SecretKey::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != SecretKeyBytes || !cryptoReady())
        return std::nullopt;
    SecretKey key;
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> derivedPublic{};
    // The first 32 bytes are the seed; the key pair it gives must be this key.
    if (crypto_sign_seed_keypair(derivedPublic.data(), key.m_bytes.data(), bytesOf(bytes)) != 0 ||
        sodium_memcmp(key.m_bytes.data(), bytes.data(), SecretKeyBytes) != 0)
        return std::nullopt;
    return key;
}

SecretKey::~SecretKey()
{
    sodium_memzero(m_bytes.data(), m_bytes.size());
}

PublicKey SecretKey::publicKey() const
{
    const auto* half = reinterpret_cast<const char*>(m_bytes.data()) + crypto_sign_SEEDBYTES;
    return *PublicKey::fromBytes(QByteArrayView(half, PublicKeyBytes));
}

QByteArray SecretKey::toBase64() const
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(m_bytes.data()), SecretKeyBytes)
        .toBase64();
}

Outcome<KeyPair> generateKeyPair()
{
    if (!cryptoReady())
        return Outcome<KeyPair>::failure(u"the crypto library did not start"_s);
    SecretKey secret;
    QByteArray publicBytes(PublicKeyBytes, Qt::Uninitialized);
    if (crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicBytes.data()),
                            secret.m_bytes.data()) != 0)
        return Outcome<KeyPair>::failure(u"key generation failed"_s);
    return Outcome<KeyPair>::success(KeyPair{*PublicKey::fromBytes(publicBytes), secret});
}

QByteArray sign(QByteArrayView message, const SecretKey& key)
{
    if (!cryptoReady())
        return {};
    QByteArray signature(SignatureBytes, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         bytesOf(message), static_cast<unsigned long long>(message.size()),
                         key.data());
    return signature;
}

bool verifySignature(QByteArrayView message, QByteArrayView signature, const PublicKey& key)
{
    if (!cryptoReady() || signature.size() != SignatureBytes ||
        key.bytes().size() != PublicKeyBytes)
        return false;
    return crypto_sign_verify_detached(bytesOf(signature), bytesOf(message),
                                       static_cast<unsigned long long>(message.size()),
                                       bytesOf(key.bytes())) == 0;
}

Outcome<QByteArray> decodeBase64Exactly(QByteArrayView text, qsizetype size)
{
    // Canonical only: one signature or key has exactly one accepted text.
    const qsizetype expectedLength = (size + 2) / 3 * 4;
    if (text.size() != expectedLength)
        return Outcome<QByteArray>::failure(
            u"expected %1 base64 characters for %2 bytes, found %3"_s.arg(expectedLength)
                .arg(size)
                .arg(text.size()));
    auto decoded = QByteArray::fromBase64Encoding(
        text.toByteArray(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size || decoded.decoded.toBase64() != text)
        return Outcome<QByteArray>::failure(u"not valid base64"_s);
    return Outcome<QByteArray>::success(std::move(decoded.decoded));
}

Outcome<PublicKey> parsePublicKey(QByteArrayView text)
{
    auto bytes = decodeBase64Exactly(text, PublicKeyBytes);
    if (!bytes)
        return Outcome<PublicKey>::failure(u"public key: "_s + bytes.reason());
    return Outcome<PublicKey>::success(*PublicKey::fromBytes(bytes.value()));
}

Outcome<QList<PublicKey>> parsePublicKeyList(QByteArrayView value)
{
    using Result = Outcome<QList<PublicKey>>;
    if (trimBlanks(value).isEmpty())
        return Result::failure(u"no public key given"_s);
    const QList<QByteArray> parts = value.toByteArray().split(',');
    if (parts.size() > 2)
        return Result::failure(
            u"at most two public keys are allowed, found %1"_s.arg(parts.size()));
    QList<PublicKey> keys;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        auto key = parsePublicKey(trimBlanks(parts[i]));
        if (!key)
            return Result::failure(u"key %1: "_s.arg(i + 1) + key.reason());
        keys.append(key.value());
    }
    return Result::success(std::move(keys));
}

Outcome<QByteArray> parseSignatureFile(QByteArrayView fileBytes)
{
    if (fileBytes.endsWith("\r\n"))
        fileBytes.chop(2);
    else if (fileBytes.endsWith('\n'))
        fileBytes.chop(1);
    auto signature = decodeBase64Exactly(fileBytes, SignatureBytes);
    if (!signature)
        return Outcome<QByteArray>::failure(u"signature file: "_s + signature.reason());
    return signature;
}

QByteArray signatureFileText(QByteArrayView signature)
{
    return signature.toByteArray().toBase64() + "\r\n";
}

Check verifyManifest(QByteArrayView manifestBytes, QByteArrayView signatureFileBytes,
                     const QList<PublicKey>& keys)
{
    if (keys.isEmpty())
        return Check::failure(u"no public key to verify the manifest with"_s);
    if (!cryptoReady())
        return Check::failure(u"the crypto library did not start"_s);
    const auto signature = parseSignatureFile(signatureFileBytes);
    if (!signature)
        return Check::failure(signature.reason());
    for (const PublicKey& key : keys) {
        if (verifySignature(manifestBytes, signature.value(), key))
            return Check::success();
    }
    return Check::failure(
        keys.size() == 1 ? u"the signature does not match the public key"_s
                         : u"the signature matches none of the %1 public keys"_s.arg(keys.size()));
}

} // namespace verify
