#pragma once

// The publisher's secret key on disk: a text file of two lines, a header that
// names what it is and the base64 of the 64-byte key.
//
//   quorvane-secret-key ed25519
//   <base64>

#include "Ed25519.h"

#include <QString>

namespace verify {

inline constexpr char SecretKeyHeader[] = "quorvane-secret-key ed25519";

// The file's text for a key.
QByteArray secretKeyFileText(const SecretKey& key);
// The key in a key file's text; LF or CRLF line ends, one final line end optional.
Outcome<SecretKey> parseSecretKeyFile(QByteArrayView text);

// Reads and parses the key file at `path`.
Outcome<SecretKey> readSecretKeyFile(const QString& path);
// Creates `path` readable and writable by its owner only and writes the key.
// Never replaces an existing file; a failed write removes what it created.
Check writeNewSecretKeyFile(const QString& path, const SecretKey& key);

} // namespace verify
