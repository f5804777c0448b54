#pragma once

#include <QString>

// One file entry of an update manifest.
struct ManifestEntry
{
    QString FileName;
    QString FileVersion;
    QString FilePath;
};
