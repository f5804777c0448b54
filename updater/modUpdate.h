#pragma once

// The update run: module state shared by the run, the download and the file
// update loop, and the routines that drive one update.

#include "ManifestEntry.h"

#include <QString>
#include <QStringView>
#include <QVector>

#include <cstdint>
#include <optional>

class UpdateView;
class Inet;

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

// Fetches BaseUrl + remoteName into the game folder (below SubFolder) as
// localName. The target is replaced only by a complete 2xx body; on any
// failure it stays as it was. Reports through L3 and Label4.
bool DownloadFile(UpdateView& view, const QString& remoteName, const QString& localName);

// Reads the file lists of temp.ini and info.ini (EntryCount entries of the
// downloaded manifest; each paired with the installed entry for the same
// file) and counts the files UpdateFiles will fetch into PendingTotal.
void LoadManifests();

// Walks the remote entries and downloads what is new or newer. Returns true
// when every file that needed fetching arrived (and none was unsafe).
bool UpdateFiles(UpdateView& view);

// The transfer component of the run (one per program, so connections are
// reused). Created on first use, owned by the application object.
Inet& inet();

} // namespace modUpdate
