#pragma once

// The encoding of a profile file. Each file keeps its own: valid UTF-8 (or a
// file starting with the UTF-8 byte-order mark) stays UTF-8, anything else is
// the system's 8-bit code page, as the game's own profile functions write it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace profile {

enum class Encoding
{
    Utf8,
    // The ANSI code page on Windows, Windows-1252 elsewhere.
    Ansi
};

// What a new (missing or empty) file is written in: the ANSI code page on
// Windows, where the game reads it with its 8-bit functions; UTF-8 elsewhere.
Encoding newFileEncoding();

// The encoding of a file with these bytes; an empty file counts as new.
Encoding encodingOf(QByteArrayView file);

// A person's name for the encoding, for messages.
QString encodingName(Encoding encoding);

QString decode(QByteArrayView bytes, Encoding encoding);

// The longest value the classic profile reads return, in bytes of the file's
// encoding.
inline constexpr int MaxValueBytes = 4999;

// A value as the classic profile reads return it: cut to MaxValueBytes (at a
// character boundary in UTF-8) and decoded from the file's encoding.
QString valueText(QByteArrayView raw, Encoding encoding);

// The longest prefix of `bytes` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
QByteArrayView cutAtCharacterBoundary(QByteArrayView bytes, qsizetype limit);

// `text` in `encoding`, or nothing when the encoding cannot hold every
// character of it (decoding the result would not give `text` back).
std::optional<QByteArray> encode(QStringView text, Encoding encoding);

} // namespace profile
