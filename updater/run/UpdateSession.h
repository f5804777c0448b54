#pragma once

// One update run: reads Updater.ini, fetches the site's manifest, compares it
// with the installed one, fetches every new or newer game file and installs
// the set. It owns its state and reports only through the view it is given;
// the transfer layer is passed in as well.

#include "ManifestEntry.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVector>

#include <chrono>

#include "GameDir.h"
#include "RunLog.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>

class FileQueue;
class Inet;
class QEventLoop;
class QLockFile;
class ResumeIndex;
class StagedFiles;
class UpdateView;

namespace delta {
enum class Installed;
}

namespace transfer {
class BodySink;
class Transfer;
} // namespace transfer

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

    UpdateSession(QString gameFolder, Inet& inet, UpdateView& view, QObject* parent = nullptr);
    ~UpdateSession() override;

    // The whole run, from Updater.ini to the final status text. Returns when
    // the run has ended or the player quit.
    void UpdateRun();

    // Fetches BaseUrl + remoteName into the game folder (below `subFolder`) as
    // localName. The target is replaced only by a complete, accepted body; on
    // any failure it stays as it was. Reports through the detail and progress fields.
    bool DownloadFile(const QString& remoteName, const QString& localName,
                      const QString& subFolder = QString());

    // Reads the file lists of temp.ini and info.ini and counts the files
    // UpdateFiles will fetch into PendingTotal.
    void LoadManifests();

    // Fetches what is new or newer into part files beside their targets. True
    // when every file that needed fetching arrived (and none was unsafe); the
    // run then installs them together with the manifest.
    bool UpdateFiles();

    // The quit action: stops every transfer (their part files are removed)
    // and makes the run stop before its next step. Safe at any time.
    void requestQuit();

    // Also hash every listed file against the installed manifest and fetch
    // those that differ (--verify).
    void setVerify(bool on) { m_verify = on; }
    bool quitRequested() const { return m_quit; }

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

private:
    QString gamePath(const QString& name) const;
    void readConfiguration();
    bool acquireLock();
    void recoverInstall();
    int fetch(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
              bool showProgress);
    std::optional<QString> fetchManifest();
    bool manifestIsTrusted(const QByteArray& bytes);
    bool hasRoomForFiles();
    void prepareResumes();
    void noteFailure(const QString& text);
    void endWithoutInstalling(const QString& status);
    void finishUpdate();
    bool installSet();
    void endRun(const QString& status);
    void deleteTempManifest();
    bool repairCandidate(qsizetype n) const;
    void markRepair(qsizetype n, delta::Installed state);
    void findRepairs();
    bool needsRepair();
    void verifyInstalled();

    QString m_gameFolder;
    std::optional<GameDir> m_root; // before everything that writes through it
    Inet& m_inet;
    UpdateView& m_view;
    RunState m_state;
    bool m_quit = false;
    bool m_verify = false;
    QPointer<transfer::Transfer> m_current; // the single download under way
    FileQueue* m_queue = nullptr;           // the file walk under way
    QEventLoop* m_waiting = nullptr;        // the wait for another run's lock
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<StagedFiles> m_staged;
    std::unique_ptr<ResumeIndex> m_resumes;
    QByteArray m_manifestBytes; // temp.ini as the run read it
    QString m_firstFailure;     // what made the run incomplete, shown at its end
    RunLog m_log;
};
