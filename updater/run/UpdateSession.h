#pragma once

// One update run: reads Updater.ini, fetches the site's manifest, compares it
// with the installed one, fetches every new or newer game file and installs
// the set. It owns its state and reports only through the view it is given;
// the transfer layer is passed in as well.
//
// The run is a sequence of steps started from the running event loop: each
// step starts a transfer, a timer or a task on the disk thread, and the next
// step begins when that ends. Nothing waits in a loop of its own, so the
// window keeps painting and EXIT (requestQuit) reaches whatever runs.

#include "Manifest.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

#include <chrono>

#include "BodyWriter.h"
#include "DiskWorker.h"
#include "GameDir.h"
#include "RunLog.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Transfer.h"

class FileQueue;
class Inet;
namespace stalelock {
enum class Taken;
}
class MemorySink;
class PartSink;
class QLockFile;
class ResumeIndex;
class StagedFiles;
class UpdateView;

namespace delta {
enum class Installed;
}

class UpdateSession : public QObject
{
    Q_OBJECT

public:
    // The run's state, under the names the update rules use.
    struct RunState
    {
        QString BaseUrl;
        QString LocalVersion;
        QString RemoteVersion;
        QString GameFile;
        std::int32_t EntryCount = 0;
        QVector<ManifestEntry> LocalEntries;  // paired with RemoteEntries by position
        QVector<ManifestEntry> RemoteEntries; // the entries that name a file, in order
        std::int32_t PendingTotal = 0;
        qint64 PendingBytes = 0; // the sizes the manifest gives for them
        std::int32_t DownloadCounter = 0;
        QSet<qsizetype> Mending; // equal versions, fetched again: the player's copy is damaged
        int Connections = DefaultConnections;
    };

    static constexpr int DefaultConnections = 4;
    static constexpr int MaxConnections = 16;
    static constexpr qint64 MaxManifestBytes = 16 * 1024 * 1024;
    static constexpr qint64 MaxSignatureBytes = 4096;
    // After EXIT, staged files above this size are left for the next start
    // to sweep: removing them could hold the program's end up for a second.
    static constexpr qint64 LeftForNextStart = 64 * 1024 * 1024;

    UpdateSession(QString gameFolder, Inet& inet, UpdateView& view, QObject* parent = nullptr);
    ~UpdateSession() override;

    // The steps of a run, as the run reports them (stepStarted).
    enum class Step
    {
        WaitingForLock, // another run holds the game folder
        Manifest,
        Files,
        Install,
    };
    Q_ENUM(Step)

    // Starts the whole run, from Updater.ini to the final status text;
    // finished() follows once it has ended or the player quit.
    void UpdateRun();

    // Starts fetching BaseUrl + remoteName into the game folder (below
    // `subFolder`) as localName; finished() follows, then downloaded() tells
    // whether it arrived. The target is replaced only by a complete, accepted
    // body; on any failure it stays as it was. Reports through the detail and progress fields.
    void DownloadFile(const QString& remoteName, const QString& localName,
                      const QString& subFolder = QString());
    bool downloaded() const { return m_downloaded; }

    // Reads the file lists of temp.ini and info.ini and counts the files
    // the run will fetch into PendingTotal.
    void LoadManifests();

    // The quit action: stops every transfer and the install step (nothing is
    // installed) and ends the run before its next step. Safe at any time.
    void requestQuit();

    // Also hash every listed file against the installed manifest and fetch
    // those that differ (--verify).
    void setVerify(bool on) { m_verify = on; }
    bool quitRequested() const { return m_quit; }
    // Between UpdateRun or DownloadFile and finished().
    bool isRunning() const { return m_mode != Mode::Idle; }

    const RunState& state() const { return m_state; }
    // The game folder's handle; nothing when the folder cannot be opened.
    const GameDir* root();
    const QString& gameFolder() const { return m_gameFolder; }
    // For tools and tests that fetch single files without a run.
    void setBaseUrl(const QString& baseUrl) { m_state.BaseUrl = baseUrl; }
    void setEntryCount(std::int32_t count) { m_state.EntryCount = count; }

    // "Connections" of Updater.ini: 1 to 16, anything else the default.
    static int connectionsFrom(const QString& text);

    static constexpr QStringView LockName = u"Quorvane.lock";
    static constexpr std::chrono::milliseconds LockPoll{500};

signals:
    // The run or the download has ended (also after a quit); its files are
    // left as they are and the game folder is free for the next run.
    void finished();
    // Where the run is; the one place its progress is reported from.
    void stepStarted(UpdateSession::Step step);

private:
    enum class Mode
    {
        Idle,
        Run,
        Download,
    };

    QString gamePath(const QString& name) const;
    void readConfiguration();
    void enterStep(Step step);
    // Runs `work` on the disk thread; `then` follows on this thread unless
    // the player quit meanwhile, when the run ends instead.
    void onDisk(std::function<void()> work, std::function<void()> then);
    std::unique_ptr<FileQueue> makeQueue(std::int32_t pendingTotal);
    void fetchOne(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
                  bool showProgress, std::function<void(transfer::Outcome)> then);
    void downloadFetched(transfer::Outcome outcome);
    void endDownload(bool ok, const QString& text);
    void finish();

    // The steps of a run, in order (RunSequence.cpp).
    void acquireLock();
    stalelock::Taken takeLock();
    void pollLock();
    void recoverInstall();
    void afterRecovery(int recovery, bool madeUpdaterIni);
    void fetchManifest();
    void manifestFetched(transfer::Outcome outcome);
    void signatureFetched(transfer::Outcome outcome);
    void keepManifest();
    void manifestKept(bool written);
    void checkFileVersions();
    void checkFreeSpace(); // then the files
    bool hasRoomForFiles();
    void prepareResumes();
    void fetchFiles();
    void filesFetched();
    void install(bool complete);
    void installed(bool complete, int result, const QStringList& failed);
    void noteFailure(const QString& text);
    void endWithoutInstalling(const QString& status);
    void endRun(const QString& status);
    void deleteTempManifest();
    bool repairCandidate(qsizetype n) const;
    void markRepair(qsizetype n, delta::Installed state);
    // The cheap check of every listed file (there, and of its size) on the
    // disk thread; the ones to fetch again are marked, then `then` runs.
    void findRepairs(std::function<void()> then);
    void upToDate();
    void verifyInstalled(std::function<void()> then);
    // The installed info.ini, read once per run after the recovery: its bytes
    // for the signature judgement, its parse for the rest.
    struct InstalledManifest
    {
        std::optional<QByteArray> bytes;
        Manifest parsed;
    };
    const InstalledManifest& installedManifest();

    QString m_gameFolder;
    std::optional<GameDir> m_root; // before everything that writes through it
    Inet& m_inet;
    UpdateView& m_view;
    RunState m_state;
    Mode m_mode = Mode::Idle;
    bool m_quit = false;
    bool m_downloaded = false;
    bool m_dropTempManifest = false; // temp.ini goes when the run ends
    QTimer m_lockPoll;
    bool m_verify = false;
    QTimer m_verifyTick; // shows the share of the hashing done
    std::unique_ptr<QLockFile> m_lock;
    BodyWriter m_writer; // before the sinks that write through it
    // Written by the disk thread only while a task of the run is under way.
    std::unique_ptr<StagedFiles> m_staged;
    std::unique_ptr<ResumeIndex> m_resumes;
    std::unique_ptr<PartSink> m_single;   // DownloadFile's file
    std::unique_ptr<MemorySink> m_memory; // the manifest or its signature
    std::unique_ptr<FileQueue> m_queue;   // the transfers under way
    QByteArray m_manifestBytes;           // temp.ini as the run read it
    std::optional<Manifest> m_remote;     // those bytes, parsed once
    std::optional<InstalledManifest> m_installed;
    QString m_publicKeys;   // "PublicKey" of Updater.ini
    QString m_firstFailure; // what made the run incomplete, shown at its end
    RunLog m_log;
    DiskWorker m_disk; // last: its tasks use the members above
};
