// The steps of one update run and their texts, in the order they follow each
// other. Each step ends by starting the next, directly or once its transfer
// or its task on the disk thread is done.

#include "UpdateSession.h"

#include "Ed25519.h"
#include "FileQueue.h"
#include "InstallJournal.h"
#include "Manifest.h"
#include "ManifestCheck.h"
#include "MemorySink.h"
#include "ProfileFile.h"
#include "ResumeIndex.h"
#include "StagedFiles.h"
#include "StaleLock.h"
#include "UpdateRules.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QDateTime>
#include <QLockFile>

using namespace Qt::StringLiterals;

namespace {

const QString Unusable = u"Could Not Get Update Information!"_s;
const QString Unverified = u"Could Not Verify Update Information!"_s;
const QString UpdaterIni = u"Updater.ini"_s;
const QString InfoIni = u"info.ini"_s;
// Larger than any Updater.ini a person writes.
constexpr qint64 MaxConfigBytes = 1024 * 1024;

} // namespace

void UpdateSession::deleteTempManifest()
{
    m_dropTempManifest = true; // on the disk thread, as the run ends
}

// Updater.ini, read once through the folder's handle (never through a link).
void UpdateSession::readConfiguration()
{
    const profile::ParsedFile config =
        root() ? profile::readFile(*root(), UpdaterIni, MaxConfigBytes) : profile::ParsedFile();
    m_state.BaseUrl =
        updaterules::normaliseWebSite(modINI::GetINI(config, u"UPDATER"_s, u"WebSite"_s));
    m_state.Connections = connectionsFrom(modINI::GetINI(config, u"UPDATER"_s, u"Connections"_s));
    m_publicKeys = modINI::GetINI(config, u"UPDATER"_s, u"PublicKey"_s).trimmed();
}

const UpdateSession::InstalledManifest& UpdateSession::installedManifest()
{
    if (!m_installed) {
        m_installed.emplace();
        if (root() && root()->kindOf(InfoIni) == GameDir::Kind::File)
            m_installed->bytes = root()->readFile(InfoIni, MaxManifestBytes);
        if (m_installed->bytes)
            m_installed->parsed = Manifest::parse(*m_installed->bytes);
    }
    return *m_installed;
}

void UpdateSession::UpdateRun()
{
    if (m_mode != Mode::Idle)
        return;
    m_mode = Mode::Run;
    m_state.EntryCount = 0;
    m_remote.reset();
    m_installed.reset();
    root(); // opened here, before the disk thread shares it
    readConfiguration();
    m_view.showWindow(m_state.BaseUrl);
    acquireLock();
}

// One run at a time per game folder. A second one waits, touching nothing,
// and goes on by itself once the first has ended.
void UpdateSession::acquireLock()
{
    // By path: QLockFile creates its file exclusively (never through a link)
    // and holds the native lock; what is in its place is judged through the
    // folder's handle (stalelock).
    m_lock = std::make_unique<QLockFile>(gamePath(LockName.toString()));
    m_lock->setStaleLockTime(0); // stale only when no running program holds it
    if (!root()) {
        m_lock.reset(); // nothing can be written here: nothing to guard either
        return recoverInstall();
    }
    if (takeLock() != stalelock::Taken::Waiting)
        return recoverInstall();
    m_view.setContinueEnabled(false);
    m_view.setStatus(u"Another Update Is Running!"_s);
    enterStep(Step::WaitingForLock);
    if (m_quit)
        return finish();
    m_lockPoll.start(LockPoll);
}

stalelock::Taken UpdateSession::takeLock()
{
    QString note;
    const stalelock::Taken taken = stalelock::take(*m_lock, *root(), LockName.toString(), &note);
    if (!note.isEmpty())
        m_log.add(note);
    if (taken == stalelock::Taken::WithoutLock)
        m_lock.reset();
    return taken;
}

void UpdateSession::pollLock()
{
    if (takeLock() != stalelock::Taken::Waiting) {
        m_lockPoll.stop();
        recoverInstall();
    }
}

// What an earlier run left is completed or rolled back before anything else,
// and a missing Updater.ini is made.
void UpdateSession::recoverInstall()
{
    const GameDir* folder = root();
    auto recovery = std::make_shared<installjournal::Recovery>(installjournal::Recovery::Nothing);
    auto notes = std::make_shared<QStringList>();
    auto made = std::make_shared<bool>(false);
    onDisk(
        [folder, recovery, notes, made] {
            if (!folder)
                return;
            *recovery = installjournal::recover(*folder, notes.get());
            // Part files of a run that was killed before it could install, but
            // for those kept to resume from.
            StagedFiles::sweepTree(*folder, ResumeIndex(*folder).parts());
            if (folder->kindOf(UpdaterIni) != GameDir::Kind::File) {
                // Made like every other file here: a link in its place is replaced.
                folder->writeFileAtomically(UpdaterIni, "[UPDATER]\r\nWebSite=\r\n");
                *made = true;
            }
        },
        [this, recovery, notes, made] {
            for (const QString& line : std::as_const(*notes))
                m_log.add(line);
            afterRecovery(int(*recovery), *made);
        });
}

void UpdateSession::afterRecovery(int recovery, bool madeUpdaterIni)
{
    switch (installjournal::Recovery(recovery)) {
    case installjournal::Recovery::Nothing:
    case installjournal::Recovery::Ignored: // the notes say why
        break;
    case installjournal::Recovery::Completed:
        m_log.add(u"completed the install an earlier run left unfinished"_s);
        break;
    case installjournal::Recovery::RolledBack:
        m_log.add(u"rolled back an unfinished install whose files were missing"_s);
        break;
    case installjournal::Recovery::Incomplete:
        m_log.add(u"could not complete an unfinished install; its journal is kept"_s);
        break;
    }
    if (madeUpdaterIni)
        readConfiguration();
    // Read here, once the recovery has left the folder as its journal says.
    m_state.LocalVersion = installedManifest().parsed.version();
    m_log.add(u"start: Quorvane " QV_VERSION_STRING ", site \"%1\""_s.arg(m_state.BaseUrl));

    if (!m_state.LocalVersion.isEmpty())
        m_view.setVersion("Version "_L1 + m_state.LocalVersion);
    else
        m_view.setStatus(u"No Version Info!"_s);

    if (m_state.BaseUrl.isEmpty()) {
        m_view.setContinueEnabled(true);
        m_view.setStatus(u"Please Input The Correct Web URL!"_s);
        endRun(u"Please Input The Correct Web URL!"_s);
        return finish();
    }
    if (m_quit)
        return finish();
    m_view.setContinueEnabled(false);
    m_view.setStatus(u"Getting News..."_s);
    m_view.setStatus(u"Getting Information..."_s);
    fetchManifest();
}

// The site's manifest goes into temp.ini; the run reads header and entries
// from these bytes and installs exactly them.
void UpdateSession::fetchManifest()
{
    enterStep(Step::Manifest);
    if (m_quit)
        return;
    m_queue.reset();
    m_memory = std::make_unique<MemorySink>();
    fetchOne(u"info.ini"_s, *m_memory, MaxManifestBytes, true,
             [this](transfer::Outcome outcome) { manifestFetched(outcome); });
}

// With a PublicKey in Updater.ini, the manifest counts only when its
// signature verifies against one of the keys and it is neither older than the
// installed one, nor another manifest under the installed serial, nor expired.
void UpdateSession::manifestFetched(transfer::Outcome outcome)
{
    if (outcome != transfer::Outcome::Complete) {
        if (outcome != transfer::Outcome::Cancelled)
            m_view.setDetail(u"Failed To Download info.ini!"_s);
        return endWithoutInstalling(Unusable);
    }
    m_manifestBytes = std::move(m_memory->bytes);
    m_remote.reset();
    if (m_publicKeys.isEmpty())
        return keepManifest();
    const auto keys = verify::parsePublicKeyList(m_publicKeys.toUtf8());
    if (!keys) {
        m_log.add(u"PublicKey in Updater.ini: "_s + keys.reason());
        return endWithoutInstalling(Unverified);
    }
    m_queue.reset();
    m_memory = std::make_unique<MemorySink>();
    fetchOne(u"info.ini.sig"_s, *m_memory, MaxSignatureBytes, false,
             [this, keys = keys.value()](transfer::Outcome signature) {
                 if (signature != transfer::Outcome::Complete)
                     return endWithoutInstalling(Unverified);
                 const verify::ManifestJudgement judgement = verify::judgeSignedManifest(
                     m_manifestBytes, m_memory->bytes, keys, installedManifest().bytes,
                     QDateTime::currentDateTimeUtc());
                 m_log.add(judgement.accepted() ? u"manifest signature verified"_s
                                                : u"manifest refused: "_s + judgement.reason);
                 if (!judgement.accepted())
                     return endWithoutInstalling(Unverified);
                 keepManifest();
             });
}

void UpdateSession::keepManifest()
{
    const GameDir* folder = root();
    auto written = std::make_shared<bool>(false);
    onDisk(
        [folder, written, bytes = m_manifestBytes] {
            *written = folder && folder->writeFileAtomically(u"temp.ini"_s, bytes);
        },
        [this, written] { manifestKept(*written); });
}

void UpdateSession::manifestKept(bool written)
{
    if (!written) {
        m_manifestBytes.clear();
        noteFailure(u"Could Not Write temp.ini!"_s);
        m_view.setDetail(m_firstFailure);
        return endWithoutInstalling(Unusable);
    }
    m_view.setDetail(u"Downloaded info.ini!"_s);
    const Manifest& manifest = m_remote.emplace(Manifest::parse(m_manifestBytes));
    m_state.GameFile = manifest.gameFileName();
    m_state.RemoteVersion = manifest.version();
    const std::optional<std::int32_t> count = manifest.entryCount();
    m_log.add(u"installed version \"%1\", site version \"%2\", Max %3"_s.arg(
        m_state.LocalVersion, m_state.RemoteVersion, manifest.versionValue("Max")));
    if (!count || m_state.RemoteVersion.isEmpty())
        return endWithoutInstalling(Unusable);
    m_state.EntryCount = *count;
    if (m_quit)
        return;
    if (m_state.RemoteVersion != m_state.LocalVersion || m_verify)
        return checkFileVersions();
    if (m_state.EntryCount <= 0)
        return upToDate();
    LoadManifests();
    findRepairs([this] {
        if (m_state.Mending.isEmpty())
            upToDate();
        else
            checkFileVersions();
    });
}

void UpdateSession::upToDate()
{
    m_view.setVersion("Version "_L1 + m_state.RemoteVersion);
    m_view.setStatus(u"You Have The Latest Version!"_s);
    m_view.setDetail(QString());
    m_view.setContinueEnabled(true);
    deleteTempManifest();
    endRun(u"You Have The Latest Version!"_s);
    finish();
}

void UpdateSession::endRun(const QString& status)
{
    m_log.add(u"end: "_s + status +
              (m_firstFailure.isEmpty() ? QString() : u" ("_s + m_firstFailure + u')'));
}

// The run could not finish: the installed version stays, the player may play
// it, and what stopped the run stays on the detail line.
void UpdateSession::endWithoutInstalling(const QString& status)
{
    m_view.setStatus(status);
    if (!m_state.LocalVersion.isEmpty())
        m_view.setVersion("Version "_L1 + m_state.LocalVersion);
    m_view.setDetail(m_firstFailure);
    m_view.setContinueEnabled(true);
    m_view.updateFinished(false); // last: the final frame goes out with it
    deleteTempManifest();
    endRun(status);
    finish();
}
