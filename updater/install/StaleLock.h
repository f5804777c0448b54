#pragma once

// The one-run-at-a-time lock of a game folder. A lock a live updater holds
// (it keeps a native lock on the file) is waited for; anything else in its
// place is stale however it looks (empty after a power cut, garbage, another
// host's name, a folder or a link) and is taken over.

#include "GameDir.h"

#include <QLockFile>
#include <QString>

#include <chrono>

namespace stalelock {

enum class Taken
{
    Yes,         // the lock is ours
    Waiting,     // a live updater holds it
    WithoutLock, // nothing can be locked here: the run goes on unguarded
};

// A lock file younger than this may be one a starting updater has just made
// and not yet locked: it is waited for a moment.
inline constexpr std::chrono::milliseconds MinStaleAge{2000};

// One try at `lock`, the file `name` in `root`. `note` says what was taken
// over or why the run goes on without a lock, for the run log.
Taken take(QLockFile& lock, const GameDir& root, const QString& name, QString* note);

} // namespace stalelock
