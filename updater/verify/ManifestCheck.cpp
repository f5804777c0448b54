#include "ManifestCheck.h"

#include "ProfileSyntax.h"

using namespace Qt::StringLiterals;

namespace verify {

namespace {

ManifestJudgement refuse(ManifestVerdict verdict, QString reason)
{
    return {verdict, std::move(reason)};
}

QString when(const QDateTime& t)
{
    return QString::fromLatin1(formatExpires(t));
}

} // namespace

VersionKeys readVersionKeys(const QByteArray& manifestBytes)
{
    const auto index = profile::syntax::Index::parse(manifestBytes);
    return {parseSerial(index.find("VERSION", "Serial")),
            parseExpires(index.find("VERSION", "Expires"))};
}

ManifestJudgement judgeSignedManifest(const QByteArray& manifestBytes,
                                      const QByteArray& signatureFileBytes,
                                      const QList<PublicKey>& keys,
                                      const std::optional<QByteArray>& installedManifest,
                                      const QDateTime& now)
{
    using V = ManifestVerdict;
    // Nothing in the bytes is looked at before the signature holds.
    const Check signature = verifyManifest(manifestBytes, signatureFileBytes, keys);
    if (!signature)
        return refuse(V::BadSignature, signature.reason);

    const VersionKeys incoming = readVersionKeys(manifestBytes);
    if (incoming.serial.absent())
        return refuse(V::SerialMissing, u"the signed manifest has no Serial"_s);
    if (incoming.serial.malformed)
        return refuse(V::SerialMalformed, u"the signed manifest's Serial is not a whole number"_s);
    if (incoming.expires.malformed)
        return refuse(V::ExpiresMalformed,
                      u"the signed manifest's Expires is not a UTC time YYYY-MM-DDTHH:MM:SSZ"_s);

    const qint64 serial = *incoming.serial.value;
    if (installedManifest) {
        const OptionalKey<qint64> installed = readVersionKeys(*installedManifest).serial;
        if (installed.value && serial < *installed.value)
            return refuse(V::Rollback, u"the site's manifest has Serial %1, older than the "
                                       "installed %2"_s.arg(serial)
                                           .arg(*installed.value));
        if (installed.value && serial == *installed.value && manifestBytes != *installedManifest)
            return refuse(V::MixAndMatch, u"the site's manifest differs from the installed one "
                                          "under the same Serial %1"_s.arg(serial));
    }
    if (incoming.expires.value && *incoming.expires.value <= now)
        return refuse(V::Expired, u"the site's manifest expired at %1 (now %2)"_s.arg(
                                      when(*incoming.expires.value), when(now)));
    return {V::Accepted, {}};
}

} // namespace verify
