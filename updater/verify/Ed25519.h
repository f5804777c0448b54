#pragma once

// Ed25519 through libsodium: keys, detached signatures and their text forms
// (base64 keys in Updater.ini, the one-line signature file beside info.ini).

#include "Outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

namespace verify {

inline constexpr qsizetype PublicKeyBytes = 32;
inline constexpr qsizetype SecretKeyBytes = 64;
inline constexpr qsizetype SignatureBytes = 64;

// True once libsodium has started; every function below checks it.
bool cryptoReady();

class PublicKey
{
public:
    // Nothing unless exactly PublicKeyBytes bytes.
    static std::optional<PublicKey> fromBytes(QByteArrayView bytes);
    const QByteArray& bytes() const { return m_bytes; }
    QByteArray toBase64() const { return m_bytes.toBase64(); }
    friend bool operator==(const PublicKey&, const PublicKey&) = default;

private:
    explicit PublicKey(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    QByteArray m_bytes;
};

struct KeyPair;

// libsodium's 64-byte secret key (seed and public half). Wiped when destroyed.
class SecretKey
{
public:
    // Nothing unless the bytes are a secret key whose public half belongs to
    // its seed (a damaged key file is refused, not used to sign).
    static std::optional<SecretKey> fromBytes(QByteArrayView bytes);
    SecretKey(const SecretKey&) = default;
    SecretKey& operator=(const SecretKey&) = default;
    ~SecretKey();

    PublicKey publicKey() const;
    // Base64 of the whole key, for the key file only.
    QByteArray toBase64() const;
    const unsigned char* data() const { return m_bytes.data(); }

private:
    SecretKey() = default;
    friend Outcome<KeyPair> generateKeyPair();
    std::array<unsigned char, SecretKeyBytes> m_bytes{};
};

struct KeyPair
{
    PublicKey publicKey;
    SecretKey secretKey;
};

Outcome<KeyPair> generateKeyPair();

// The detached signature of `message` (SignatureBytes bytes); empty when the
// crypto library did not start.
QByteArray sign(QByteArrayView message, const SecretKey& key);
bool verifySignature(QByteArrayView message, QByteArrayView signature, const PublicKey& key);

// Strict base64 (canonical, padded, nothing around it) of exactly `size` bytes.
Outcome<QByteArray> decodeBase64Exactly(QByteArrayView text, qsizetype size);

// One base64 public key.
Outcome<PublicKey> parsePublicKey(QByteArrayView text);

// The "PublicKey" value of Updater.ini: one or two base64 keys separated by a
// comma, blanks allowed around each.
Outcome<QList<PublicKey>> parsePublicKeyList(QByteArrayView value);

// The signature file: one line of base64, optionally ended by LF or CRLF.
Outcome<QByteArray> parseSignatureFile(QByteArrayView fileBytes);
// The signature file's bytes for a signature.
QByteArray signatureFileText(QByteArrayView signature);

// Ok when the signature file holds a signature of exactly `manifestBytes` by
// one of `keys`.
Check verifyManifest(QByteArrayView manifestBytes, QByteArrayView signatureFileBytes,
                     const QList<PublicKey>& keys);

} // namespace verify
