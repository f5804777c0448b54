#pragma once

// The updater's profile access: one value read or written at a time.

#include "ProfileText.h"

#include <QString>

namespace modINI {

// Longest value GetINI returns, in bytes of the file's encoding.
inline constexpr int MaxValueBytes = 4999;

// The value of `key` in `section` of `file`; empty when the file, section or
// key is missing. Longer values are cut to MaxValueBytes at a character
// boundary.
QString GetINI(const QString& file, const QString& section, const QString& key);

// Sets `key` in `section` of `file`, creating what is missing. The file is
// left untouched when the write fails; the result says whether it worked.
bool WriteINI(const QString& file, const QString& section, const QString& key,
              const QString& value);

// A value as GetINI returns it: cut to MaxValueBytes (at a character boundary
// in UTF-8) and decoded from the file's encoding. Every read of the updater
// goes through here.
QString valueText(const QByteArray& raw, profile::Encoding encoding = profile::Encoding::Utf8);

// The longest prefix of `bytes` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
QByteArray cutAtCharacterBoundary(const QByteArray& bytes, qsizetype limit);

} // namespace modINI
