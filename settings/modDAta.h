#pragma once

// Access to the game's settings file "config.zcn", opened afresh on every call
// so the game's own edits are never overwritten by a stale copy. Text is read
// and written in the file's own encoding.

#include "ProfileFile.h"

#include <QList>
#include <QString>

#include <utility>

namespace modDAta {

// The settings file inside `gameFolder`.
QString settingsPath(const QString& gameFolder);

// The whole value of `key` in `section` of `path` (no length cut); empty when
// the file, the section or the key is missing. Never creates the file.
QString GetINI(const QString& path, const QString& section, const QString& key);

// Sets `key` in `section` of `path`, creating what is missing. A failed write
// leaves the file as it was and says why.
profile::WriteResult WriteINI(const QString& path, const QString& section, const QString& key,
                              const QString& value);

// Sets every key of `values` in `section` of `path` in one save: all of them
// or, when any fails, none. `replace` is the save's last step (tests only).
profile::WriteResult WriteAll(const QString& path, const QString& section,
                              const QList<std::pair<QString, QString>>& values,
                              const profile::ReplaceStep& replace = {});

} // namespace modDAta
