#pragma once

// Which forms of a game file to fetch, cheapest first: a patch that applies
// to the file the player has, else the compressed copy, else the plain file.
// Each failure moves on to the next form of the list.

#include "FormKeys.h"
#include "ManifestEntry.h"

#include <QList>
#include <QString>

#include <optional>

namespace delta {

// One form to try; no value: the plain file.
using FormStep = std::optional<verify::PackedForm>;

// `localHash`: SHA-256 of the player's copy of the file, nothing when there
// is none. A form needs the entry's FileSize and FileHash, since only they
// prove its result; the plain file always ends the list.
QList<FormStep> chooseForms(const ManifestEntry& entry, const std::optional<QByteArray>& localHash);

// True when a patch of `entry` could apply to some file, so hashing the
// player's copy is worth it.
bool offersPatch(const ManifestEntry& entry);

// "patch", "compressed copy" or "plain file", for the log.
QString describe(const FormStep& step);

} // namespace delta
