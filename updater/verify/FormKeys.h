#pragma once

// The smaller forms the site may offer for a file besides the plain copy, as
// one manifest key per entry ("FileForms" n in [FILES]): a zstd-compressed
// copy and zstd patches from earlier versions of the file. Each form is named
// by its own SHA-256 below one folder of the site, so a name never collides
// with a game file and never changes meaning.
//
//   FileForms12=zst:<size>:<sha256> patch:<base sha256>:<size>:<sha256> ...
//
// Tokens are separated by single spaces; hashes are 64 lower-case hex digits.
// Readers that do not know the key see the plain file as before.

#include "ManifestKeys.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace verify {

struct PackedForm
{
    enum class Kind
    {
        Compressed, // the whole file, zstd-compressed
        Patch,      // a zstd frame that needs the file whose SHA-256 is `base` as its prefix
    };
    Kind kind = Kind::Compressed;
    QByteArray base;   // raw SHA-256 of the file a patch applies to; empty for a compressed copy
    qint64 size = 0;   // of the form itself
    QByteArray sha256; // of the form itself (raw)

    bool operator==(const PackedForm&) const = default;
};

using PackedForms = QList<PackedForm>;

// "FileForms12".
QByteArray fileFormsKey(int n);

// Strict: any malformed token makes the whole value malformed.
OptionalKey<PackedForms> parseFileForms(const std::optional<QByteArray>& value);
QByteArray formatFileForms(const PackedForms& forms);

// The folder of the site that holds the forms.
inline constexpr char PackedFolder[] = "packed";
// "packed/<hex>.zst": where the form is on the site.
QString packedFormPath(const PackedForm& form);

} // namespace verify
