// The files and install steps of an update run: which files to fetch, the
// walk that fetches them, and the install of the set on the disk thread.

#include "UpdateSession.h"

#include "FileQueue.h"
#include "Manifest.h"
#include "ResumeIndex.h"
#include "StagedFiles.h"
#include "UpdateRules.h"
#include "UpdateView.h"

using namespace Qt::StringLiterals;

namespace {

// How the install step ended.
enum class InstallResult
{
    Installed, // or tried: see the names that failed
    ManifestChanged,
    ManifestNotStaged,
};

} // namespace

// When the manifest gives sizes, the files to stage must fit before the
// first byte is fetched.
bool UpdateSession::hasRoomForFiles()
{
    if (m_state.PendingBytes <= 0)
        return true;
    // Asked through the folder's own handle: a mount table may not show it.
    Result why;
    const std::optional<qint64> free = root() ? root()->freeSpace(&why) : std::nullopt;
    if (!free) {
        if (!why.reason.isEmpty())
            m_log.add(u"free space not known, not checked: "_s + why.reason);
        return true;
    }
    // A little room beyond the files: folders, the journal, the manifest.
    constexpr qint64 Margin = 1024 * 1024;
    if (*free >=
        updaterules::addSizes(m_state.PendingBytes, std::min(Margin, m_state.PendingBytes)))
        return true;
    m_log.add(u"%1 bytes to stage, %2 free"_s.arg(m_state.PendingBytes).arg(*free));
    return false;
}

void UpdateSession::checkFileVersions()
{
    m_view.setStatus(u"Checking File Versions..."_s);
    if (m_quit) // a text shown may let the player quit
        return;
    if (m_state.EntryCount <= 0)
        return install(true);
    LoadManifests();
    findRepairs([this] { checkFreeSpace(); });
}

void UpdateSession::checkFreeSpace()
{
    if (!hasRoomForFiles())
        return endWithoutInstalling(u"Not Enough Disk Space!"_s);
    m_view.setStatus(QString());
    m_state.DownloadCounter = 0;
    if (!root()) {
        noteFailure(u"Could Not Write temp.ini!"_s);
        return install(false);
    }
    if (m_verify)
        return verifyInstalled([this] { prepareResumes(); });
    prepareResumes();
}

// Interrupted downloads of files this manifest still wants stay; the rest go.
// What the run did so far reaches the log before the long part, so a run
// that is killed still leaves a trace for support.
void UpdateSession::prepareResumes()
{
    QHash<QString, ResumeRecord> wanted;
    for (const ManifestEntry& entry : std::as_const(m_state.RemoteEntries)) {
        if (hasName(entry) && !updaterules::isUnsafeEntry(entry.FilePath, entry.FileName)) {
            const ResumeRecord key = FileQueue::resumeKey(entry, m_state.BaseUrl);
            wanted.insert(ResumeIndex::keyOf(key.target), key);
        }
    }
    if (!m_staged)
        m_staged = std::make_unique<StagedFiles>(*root());
    const GameDir* folder = root();
    auto voided = std::make_shared<QStringList>();
    onDisk(
        [this, folder, wanted, voided, lines = m_log.takePending()] {
            RunLog::writeTo(*folder, lines);
            m_resumes = std::make_unique<ResumeIndex>(*folder);
            *voided = m_resumes->voided();
            m_resumes->prune(wanted);
            for (const QString& part : m_resumes->parts())
                m_staged->spare(part);
        },
        [this, voided] {
            for (const QString& why : std::as_const(*voided))
                m_log.add(u"Quorvane.resume: record ignored, "_s + why);
            fetchFiles();
        });
}

void UpdateSession::fetchFiles()
{
    enterStep(Step::Files);
    if (m_quit)
        return;
    m_queue = makeQueue(m_state.PendingTotal);
    connect(m_queue.get(), &FileQueue::finished, this, &UpdateSession::filesFetched,
            Qt::QueuedConnection);
    m_queue->start(m_state.RemoteEntries, m_state.LocalEntries);
}

void UpdateSession::filesFetched()
{
    if (m_mode == Mode::Idle || m_quit)
        return;
    m_state.DownloadCounter = m_queue->downloadCounter();
    if (!m_queue->firstFailure().isEmpty())
        noteFailure(m_queue->firstFailure());
    const bool complete = m_queue->complete();
    if (complete)
        m_state.LocalEntries = m_state.RemoteEntries;
    install(complete);
}

// Files and manifest go in together, or nothing does, on the disk thread.
// The manifest installed is the one the run worked from, so temp.ini must
// still hold those bytes.
void UpdateSession::install(bool complete)
{
    if (complete) {
        m_view.installStarted();
        enterStep(Step::Install);
    }
    if (m_quit)
        return;
    const GameDir* folder = root();
    auto result = std::make_shared<InstallResult>(InstallResult::Installed);
    auto failed = std::make_shared<QStringList>();
    auto causes = std::make_shared<QStringList>();
    onDisk(
        [this, folder, complete, result, failed, causes] {
            if (m_resumes)
                m_resumes->save();
            if (!complete)
                return;
            if (!folder || folder->readFile(u"temp.ini"_s, MaxManifestBytes) != m_manifestBytes) {
                *result = InstallResult::ManifestChanged;
                return;
            }
            if (!m_staged)
                m_staged = std::make_unique<StagedFiles>(*folder);
            if (!m_staged->stageManifest(m_manifestBytes)) {
                *result = InstallResult::ManifestNotStaged;
                return;
            }
            *failed = m_staged->install(m_disk.stopCheck());
            *causes = m_staged->failureCauses();
            m_staged.reset();
        },
        [this, complete, result, failed, causes] {
            for (const QString& cause : std::as_const(*causes))
                m_log.add(u"install: "_s + cause);
            installed(complete, int(*result), *failed);
        });
}

void UpdateSession::installed(bool complete, int result, const QStringList& failed)
{
    if (complete) {
        if (InstallResult(result) == InstallResult::ManifestNotStaged)
            noteFailure(u"Could Not Write info.ini!"_s);
        for (const QString& localName : failed) {
            noteFailure("Could Not Write "_L1 + localName + u'!');
            m_view.setDetail("Could Not Write "_L1 + localName + u'!');
        }
        const bool done = InstallResult(result) == InstallResult::Installed && failed.isEmpty();
        if (!done && m_firstFailure.isEmpty())
            return endWithoutInstalling(u"Could Not Get Update Information!"_s);
    }
    if (!complete || !m_firstFailure.isEmpty())
        return endWithoutInstalling(u"Update Incomplete, Please Try Again!"_s);
    const QString status = "Updated To Version "_L1 + m_state.RemoteVersion + u'!';
    m_view.setContinueEnabled(true);
    m_view.setVersion("Version "_L1 + m_state.RemoteVersion);
    m_view.setStatus(status);
    m_view.setDetail(QString());
    m_view.updateFinished(true); // last: the final frame goes out with it
    deleteTempManifest();
    endRun(status);
    finish();
}
