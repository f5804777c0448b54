#pragma once

// Whether a signed manifest from the site may replace the installed one.
//
// Checked in this order, and the first failure is the answer:
//  1. the signature file verifies against one of the configured keys;
//  2. "Serial" is present and well formed: a signed manifest without one
//     cannot be ordered against the installed one, so it is refused;
//  3. "Expires", when present, is well formed; absent means no expiry;
//  4. the serial is not lower than the installed manifest's (rollback);
//  5. with the same serial the bytes are the installed manifest's
//     (mix-and-match: two different manifests under one number);
//  6. "Expires", when present, lies after `now` (freeze).
// An installed manifest without a readable "Serial" (one from before signing,
// or none at all) sets no floor.

#include "Ed25519.h"
#include "ManifestKeys.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <optional>

namespace verify {

enum class ManifestVerdict
{
    Accepted,
    BadSignature,
    SerialMissing,
    SerialMalformed,
    ExpiresMalformed,
    Rollback,
    MixAndMatch,
    Expired
};

struct ManifestJudgement
{
    ManifestVerdict verdict = ManifestVerdict::BadSignature;
    QString reason; // empty when accepted

    bool accepted() const { return verdict == ManifestVerdict::Accepted; }
};

// "Serial" and "Expires" of [VERSION] in a manifest's bytes.
struct VersionKeys
{
    OptionalKey<qint64> serial;
    OptionalKey<QDateTime> expires;
};
VersionKeys readVersionKeys(const QByteArray& manifestBytes);

// `installedManifest` is the bytes of the installed info.ini, nothing when
// there is none.
ManifestJudgement judgeSignedManifest(const QByteArray& manifestBytes,
                                      const QByteArray& signatureFileBytes,
                                      const QList<PublicKey>& keys,
                                      const std::optional<QByteArray>& installedManifest,
                                      const QDateTime& now);

} // namespace verify
