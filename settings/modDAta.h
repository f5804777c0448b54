#pragma once

// Access to the game's settings file "config.zcn": one value per call, the
// file opened afresh every time so the game's own edits are never overwritten
// by a stale copy.

#include "ProfileFile.h"

#include <QString>

namespace modDAta {

// The settings file inside `gameFolder`.
QString settingsPath(const QString& gameFolder);

// The whole value of `key` in `section` of `path` (no length cut); empty when
// the file, the section or the key is missing. Never creates the file.
QString GetINI(const QString& section, const QString& key, const QString& path);

// Sets `key` in `section` of `path`, creating what is missing. A failed write
// leaves the file as it was and says why.
profile::WriteResult WriteINI(const QString& section, const QString& key, const QString& value,
                              const QString& path);

} // namespace modDAta
