#pragma once

// Whether a part file kept for resuming may be continued. Only a regular file
// of ours (the part-name pattern), beside its target, with a single link and
// of the size recorded (or, for a record made while it still grew, no larger
// than the file it becomes) is. Anything else is removed (a link as a link,
// never what it points to) and the file starts over.

#include "GameDir.h"
#include "ResumeIndex.h"

#include <QFile>

#include <memory>
#include <optional>

namespace resumablepart {

struct Opened
{
    std::shared_ptr<GameDir> folder;
    std::unique_ptr<QFile> file; // open for appending
    qint64 size = 0;
};

// The part `record` names, open for appending; nothing (and `why` set) when
// it may not be continued, in which case it is gone.
std::optional<Opened> open(const GameDir& root, const ResumeRecord& record, QString* why);

// True when the open `file` is a regular file with one link of `size` bytes:
// still the part we checked, not a hard link to a file elsewhere.
bool isSinglePlainFile(const QFile& file, qint64 size);

} // namespace resumablepart
