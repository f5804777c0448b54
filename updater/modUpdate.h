#pragma once

// The update run: module state shared by the run, the download and the file
// update loop, and the routines that drive one update.

#include "ManifestEntry.h"

#include <QString>
#include <QVector>

#include <cstdint>

class UpdateView;

namespace modUpdate {

// Module-level run state; lives as long as the program.
struct RunState
{
    QString GameFolder; // set once at start-up (tests point it at a scratch folder)
    QString BaseUrl;
    QString LocalVersion;
    QString RemoteVersion;
    QString GameFile;
    std::int32_t EntryCount = 0;
    QVector<ManifestEntry> LocalEntries;  // index 0 is entry 1
    QVector<ManifestEntry> RemoteEntries; // index 0 is entry 1
    QString SubFolder;
    std::int32_t PendingTotal = 0;
    std::int32_t DownloadCounter = 0;
    bool QuitRequested = false;
};

RunState& state();

// Resets the state to that of a freshly started program with the given game folder.
void resetState(const QString& gameFolder);

// The start-up routine: reads Updater.ini, shows the window through `view`,
// and performs the whole update, reporting through `view`.
void UpdateRun(UpdateView& view);

// The quit action: aborts the transfer under way (its temporary file is
// removed) and makes the run stop before its next step. Safe at any time.
void requestQuit();

} // namespace modUpdate
