#pragma once

#include <QString>

namespace gamefolder {

// The folder that holds the running program, without a closing separator.
// Needs a QCoreApplication.
QString path();

// True when `filePath` names a regular file (hidden, read-only or system
// attributes do not matter); a folder, or nothing, is false. Symbolic links
// count when they point at a regular file.
bool plainFileExists(const QString& filePath);

} // namespace gamefolder
