#pragma once

// The site's manifest as the publisher reads the previous one and writes the
// next: the whole text is generated at once (CRLF line ends), never edited
// key by key.

#include "ManifestEntry.h"
#include "Outcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace publisher {

struct SiteManifest
{
    QString version;
    QString gameFileName;
    std::optional<qint64> serial;
    std::optional<QDateTime> expires;
    QList<ManifestEntry> entries; // those that name a file
};

inline constexpr char DefaultGameFileName[] = "Game.zgx";

// The manifest at `path`, read as the updater reads it: nothing when there is
// no file, a failure when it cannot be read or its "Max" or "Serial" is
// unusable. Malformed sizes and hashes read as absent (the publisher then
// compares bytes instead).
verify::Outcome<std::optional<SiteManifest>> readSiteManifest(const QString& path);

// The manifest's bytes. Every entry carries size and hash.
QByteArray renderManifest(const SiteManifest& manifest);

} // namespace publisher
