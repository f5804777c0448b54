#pragma once

// An update manifest read from one parse of its bytes: the header of
// [VERSION] and the file entries of [FILES], and the pairing of a downloaded
// manifest's entries with the installed ones.

#include "ManifestEntry.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

namespace profile {
class ParsedFile;
}

class Manifest
{
public:
    // The largest manifest read from disk or from the site.
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;

    // Reads `bytes` (a missing file reads as empty bytes).
    static Manifest parse(const QByteArray& bytes);
    // Reads the file at `path`; an unreadable, missing, linked or too large
    // file reads as empty.
    static Manifest load(const QString& path);

    QString version() const;
    QString gameFileName() const;
    // "Max" as an entry count; nothing when it is not a usable count.
    std::optional<std::int32_t> entryCount() const;

    // The entries among 1 to `count` that name a file, in order. The list
    // grows with the entries present, never with the count alone.
    QVector<ManifestEntry> entries(std::int32_t count) const;

    // A value of [VERSION] as text (for keys with rules of their own).
    QString versionValue(const char* key) const;

private:
    explicit Manifest(std::shared_ptr<const profile::ParsedFile> parse);
    std::shared_ptr<const profile::ParsedFile> m_parse;
};

// For each remote entry, the installed entry for the same file (folders and
// name, letter case and separators ignored), or an empty entry. Matching by
// file keeps inserted or reordered entries paired correctly.
QVector<ManifestEntry> pairInstalled(const QVector<ManifestEntry>& remote,
                                     const Manifest& installed);

bool hasName(const ManifestEntry& entry);
