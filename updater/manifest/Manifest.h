#pragma once

// An update manifest read from one parse of its bytes: the header of
// [VERSION] and the file entries of [FILES], and the pairing of a downloaded
// manifest's entries with the installed ones. The one reader of manifests for
// the updater and the publisher alike; values read as the classic profile
// reads return them (see profile::valueText).

#include "ManifestEntry.h"
#include "ManifestKeys.h"
#include "ProfileFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

class GameDir;

class Manifest
{
public:
    // The largest manifest read from disk or from the site.
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;

    // No manifest: every value is missing.
    Manifest() = default;
    explicit Manifest(profile::ParsedFile file) : m_file(std::move(file)) {}

    // Reads `bytes` (a missing file reads as empty bytes).
    static Manifest parse(const QByteArray& bytes);
    // Reads `name` in `folder` through its handle; a missing, linked, not
    // regular or too large file reads as empty.
    static Manifest read(const GameDir& folder, const QString& name);
    // Reads the file at `path` as read() does.
    static Manifest load(const QString& path);

    QString version() const;
    QString gameFileName() const;
    // "Max" as an entry count; nothing when it is not a usable count.
    std::optional<std::int32_t> entryCount() const;
    verify::OptionalKey<qint64> serial() const;
    verify::OptionalKey<QDateTime> expires() const;

    // Entry `n` (from 1); nothing when the manifest has no "FileName" n.
    std::optional<ManifestEntry> entry(std::int32_t n) const;
    // The entries among 1 to `count` that name a file, in order. The list
    // grows with the entries present, never with the count alone.
    QVector<ManifestEntry> entries(std::int32_t count) const;

    // A value of [VERSION] as text (for keys with rules of their own).
    QString versionValue(const char* key) const;

private:
    profile::ParsedFile m_file;
};

// For each remote entry, the installed entry for the same file (folders and
// name, letter case and separators ignored), or an empty entry. Matching by
// file keeps inserted or reordered entries paired correctly.
QVector<ManifestEntry> pairInstalled(const QVector<ManifestEntry>& remote,
                                     const Manifest& installed);

bool hasName(const ManifestEntry& entry);
