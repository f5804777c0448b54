#pragma once

// The install journal: before the first staged file is renamed into place,
// the list of part files and their targets is written and synced beside the
// game. A run that dies while installing (a kill, a power cut) leaves it
// behind, and the next start completes the install from it, or rolls it back
// when parts are missing, so the folder ends all old or all new.

#include "GameDir.h"

#include <QList>
#include <QString>

#include <optional>

namespace installjournal {

inline constexpr QStringView FileName = u"Quorvane.journal";

// One staged file: paths relative to the game folder, "/" between folders.
struct Entry
{
    QString part;
    QString target;
    qint64 size = 0;
};

// Writes the journal atomically and makes it durable.
bool write(const GameDir& root, const QList<Entry>& entries, QString* error = nullptr);

// Removes the journal once its install is complete.
void remove(const GameDir& root);

enum class Recovery
{
    Nothing,    // no journal
    Completed,  // every remaining part was renamed into place
    RolledBack, // parts were missing: the remaining ones were removed
    Ignored,    // the journal names what no install of ours writes: void
};

// Finishes what a journal left behind. Renames happen in the journal's order,
// so the manifest, listed last, arrives last. A journal is void (`why` says
// why; nothing is renamed or removed but the journal) unless every source is
// a part file beside its target, info.ini comes last if at all, and every
// other target is an entry of the manifest the journal was written for (that
// last part, or info.ini in place).
Recovery recover(const GameDir& root, QString* why = nullptr);

// Why `entries` cannot be a journal we wrote for the manifest `manifest`
// (nothing: the manifest is lost, its entries are not checked), or empty.
QString problemOf(const QList<Entry>& entries, const std::optional<QByteArray>& manifest);

} // namespace installjournal
