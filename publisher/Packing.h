#pragma once

// The smaller forms of a release on the site: for every changed or new file
// a compressed copy and patches from the versions the file had in the last K
// releases, each stored once below the site's packed folder under its own
// SHA-256. To make patches later the site keeps, below the same folder, a
// copy of every manifest it published and the versions of files the last K
// releases named (hard links where the file system allows).

#include "Release.h"
#include "SiteManifest.h"

#include <QTextStream>

namespace publisher {

inline constexpr int DefaultDeltas = 2;

struct PackStats
{
    int compressed = 0;
    int patches = 0;
    qint64 formBytes = 0; // of the forms written by this build
    qint64 keptBytes = 0; // of the earlier versions kept for patches (links to current files aside)
    qint64 patchMs = 0;   // spent making patches
};

// A release file named like the packed folder would hide it.
QStringList checkPackedName(const QList<ReleaseFile>& files);

// Fills the forms of `next` (its entries match `files` by folder and name),
// writing new forms below `siteDir`. `deltas`: how many earlier releases a
// patch is made from. An unchanged file keeps the forms it had. Returns an
// error text, empty on success.
QString packRelease(const QString& siteDir, int deltas, const QList<ReleaseFile>& files,
                    SiteManifest& next, PackStats& stats, QTextStream& err);

// After `next` was published: keeps its manifest and the files it names for
// later patches, and lets go of versions no patch of the next build needs.
void keepForPatches(const QString& siteDir, int deltas, const SiteManifest& next,
                    const QByteArray& manifestBytes, PackStats& stats);

} // namespace publisher
