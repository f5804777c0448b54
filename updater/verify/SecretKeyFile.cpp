#include "SecretKeyFile.h"

#include <QFile>

#include <sodium.h>

using namespace Qt::StringLiterals;

namespace verify {

namespace {

// Key files are two short lines; anything much larger is not one.
constexpr qint64 MaxKeyFileSize = 4096;

// Wipes the copies of the key text this unit makes.
struct WipedBytes
{
    QByteArray bytes;
    ~WipedBytes()
    {
        bytes.detach();
        sodium_memzero(bytes.data(), static_cast<size_t>(bytes.size()));
    }
};

} // namespace

QByteArray secretKeyFileText(const SecretKey& key)
{
    return QByteArray(SecretKeyHeader) + '\n' + key.toBase64() + '\n';
}

Outcome<SecretKey> parseSecretKeyFile(QByteArrayView text)
{
    using Result = Outcome<SecretKey>;
    WipedBytes normalised{text.toByteArray()};
    normalised.bytes.replace("\r\n", "\n");
    if (normalised.bytes.endsWith('\n'))
        normalised.bytes.chop(1);
    const QByteArrayView all(normalised.bytes);
    const qsizetype lineEnd = all.indexOf('\n');
    if (lineEnd < 0 || all.first(lineEnd) != QByteArrayView(SecretKeyHeader) ||
        all.sliced(lineEnd + 1).contains('\n'))
        return Result::failure(u"not a secret key file (expected the line \"%1\" and one line of "
                               "base64)"_s.arg(QLatin1StringView(SecretKeyHeader)));
    auto bytes = decodeBase64Exactly(all.sliced(lineEnd + 1), SecretKeyBytes);
    if (!bytes)
        return Result::failure(u"secret key: "_s + bytes.reason());
    WipedBytes raw{std::move(bytes.value())};
    auto key = SecretKey::fromBytes(raw.bytes);
    if (!key)
        return Result::failure(u"secret key: its two halves do not belong together"_s);
    return Result::success(*key);
}

Outcome<SecretKey> readSecretKeyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Outcome<SecretKey>::failure(path + u": "_s + file.errorString());
    WipedBytes text{file.read(MaxKeyFileSize + 1)};
    if (text.bytes.size() > MaxKeyFileSize)
        return Outcome<SecretKey>::failure(path + u": not a secret key file (too large)"_s);
    auto key = parseSecretKeyFile(text.bytes);
    if (!key)
        return Outcome<SecretKey>::failure(path + u": "_s + key.reason());
    return key;
}

Check writeNewSecretKeyFile(const QString& path, const SecretKey& key)
{
    QFile file(path);
    if (QFile::exists(path))
        return Check::failure(path + u": the file exists already; it is not replaced"_s);
    // NewOnly refuses an existing file (also a link to one); the permissions
    // are set at creation, before any byte of the key is written.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return Check::failure(path + u": "_s + file.errorString());
    const WipedBytes text{secretKeyFileText(key)};
    if (file.write(text.bytes) != text.bytes.size() || !file.flush()) {
        const QString why = file.errorString();
        file.close();
        file.remove();
        return Check::failure(path + u": "_s + why);
    }
    file.close();
    return Check::success();
}

} // namespace verify
