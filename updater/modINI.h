#pragma once

// The updater's profile access: one value read or written at a time.

#include "ProfileText.h"

namespace profile {
class ParsedFile;
}

#include <QString>

namespace modINI {

// Longest value GetINI returns, in bytes of the file's encoding.
inline constexpr int MaxValueBytes = profile::MaxValueBytes;

// The value of `key` in `section` of `file`; empty when the file, section or
// key is missing. Longer values are cut to MaxValueBytes at a character
// boundary.
QString GetINI(const QString& file, const QString& section, const QString& key);
// The same from a file read once (one parse for many values).
QString GetINI(const profile::ParsedFile& file, const QString& section, const QString& key);

// Sets `key` in `section` of `file`, creating what is missing. The file is
// left untouched when the write fails; the result says whether it worked.
bool WriteINI(const QString& file, const QString& section, const QString& key,
              const QString& value);

} // namespace modINI
