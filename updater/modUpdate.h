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

// -- Helpers with rules of their own, exposed for tests and the driver --

// "Max" of a manifest as an entry count: nothing when negative, outside the
// 32-bit range or above MaxEntryCount.
inline constexpr std::int32_t MaxEntryCount = 1'000'000;
std::optional<std::int32_t> entryCountFromMax(QStringView maxText);

// Trims the configured address, adds "/" at its end and "http://" in front
// when it has neither "http://" nor "https://" (any letter case).
QString normaliseWebSite(const QString& webSite);

// Orders versions: runs of digits by numeric value, everything else code unit
// by code unit. Negative, zero or positive like a comparison function; only
// identical strings compare equal.
int compareVersions(QStringView a, QStringView b);
inline bool sortsAfter(QStringView a, QStringView b)
{
    return compareVersions(a, b) > 0;
}

// Whole-number percentage of `received` out of `size` (size > 0), exact.
int percentOf(std::int64_t received, std::int64_t size);

// The remote name as it is appended to BaseUrl: URL path text with "/" kept.
QByteArray encodeRemoteName(const QString& remoteName);

// True when a manifest entry could reach outside the game folder: absolute
// names, drive letters, UNC prefixes, ".." segments, ":" or NUL characters.
bool isUnsafeEntry(const QString& filePath, const QString& fileName);

} // namespace modUpdate
