#pragma once

// How a file the installed manifest lists stands in the game folder: the
// cheap check of every run (there, and of the listed size) and the thorough
// one of --verify (its SHA-256 too). Only what is reached through the game
// folder's handle without a link counts; a link stays out of bounds.

#include "ManifestEntry.h"

#include <atomic>

class GameDir;

namespace delta {

enum class Installed
{
    Intact,
    Missing,
    OtherSize,
    OtherContent,
    OutOfBounds, // a link, or something that is not a file, on the way or in its place
};

// Without reading the file: Missing, OtherSize (when the entry gives a size)
// or Intact.
Installed checkInstalled(const GameDir& root, const ManifestEntry& entry);

// Also hashes the file when the entry gives FileHash. `hashed` grows by the
// bytes read; a set `stop` ends the reading early (the file then counts as
// intact). Safe on a worker thread.
Installed verifyInstalled(const GameDir& root, const ManifestEntry& entry,
                          std::atomic<qint64>& hashed, const std::atomic_bool& stop);

// True for the results that make a run fetch the file again.
bool needsFetch(Installed state);

} // namespace delta
