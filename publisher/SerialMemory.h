#pragma once

// The highest Serial signed with a secret key, kept in a file beside it
// ("<key file>.serial"). Players refuse a manifest whose Serial is not above
// the one they installed, so the tool never signs a lower or equal one, even
// after the site's manifest lost its Serial to a hand edit.

#include "Outcome.h"

#include <QString>

#include <optional>

namespace publisher {

QString serialMemoryPath(const QString& secretKeyFile);

// Nothing when no Serial was signed with the key yet; a failure when the
// file cannot be read or holds anything but one whole number.
verify::Outcome<std::optional<qint64>> readSignedSerial(const QString& secretKeyFile);

// Written atomically; false with `error` set when it cannot be.
bool rememberSignedSerial(const QString& secretKeyFile, qint64 serial, QString* error);

// The Serial after the site's and every one signed before; nothing when the
// next would not fit in 63 bits.
std::optional<qint64> nextSerial(std::optional<qint64> site, std::optional<qint64> signedBefore);

} // namespace publisher
