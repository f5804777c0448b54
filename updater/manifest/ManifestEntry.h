#pragma once

#include "FormKeys.h"

#include <QByteArray>
#include <QString>

#include <optional>

// One file entry of an update manifest, as the updater fetches it and the
// publisher writes and checks it.
struct ManifestEntry
{
    QString FileName;
    QString FileVersion;
    QString FilePath; // "\"-separated
    // What the file must be when the manifest says: its size in bytes and its
    // SHA-256 (32 raw bytes). A value that is present but malformed is kept
    // as a reason: such an entry is never fetched unchecked.
    std::optional<qint64> FileSize = {};
    std::optional<QByteArray> FileHash = {};
    QString BadCheck = {};
    // Smaller forms the site offers besides the plain file.
    verify::PackedForms Forms = {};
    // Which of FileSize and FileHash were present but malformed.
    bool SizeMalformed = false;
    bool HashMalformed = false;
};
