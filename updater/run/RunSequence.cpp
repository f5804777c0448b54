// The sequence of one update run and its texts; the transfers are in
// UpdateSession.cpp.

#include "UpdateSession.h"

#include "Ed25519.h"
#include "GameFolder.h"
#include "InstallJournal.h"
#include "Manifest.h"
#include "ManifestCheck.h"
#include "ResumeIndex.h"
#include "StagedFiles.h"
#include "StaleLock.h"
#include "Transfer.h"
#include "UpdateRules.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QLockFile>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Keeps the manifest's bytes in memory while they arrive (at most 16 MiB).
class MemorySink final : public transfer::BodySink
{
public:
    bool open(const transfer::Head&) override { return true; }
    bool write(const char* data, qint64 size) override
    {
        bytes.append(data, size);
        return true;
    }
    QString errorString() const override { return {}; }

    QByteArray bytes;
};

} // namespace

void UpdateSession::deleteTempManifest()
{
    if (root() && root()->kindOf(u"temp.ini"_s) == GameDir::Kind::File)
        root()->removeFile(u"temp.ini"_s);
}

void UpdateSession::readConfiguration()
{
    const QString updaterIni = gamePath(u"Updater.ini"_s);
    m_state.BaseUrl =
        updaterules::normaliseWebSite(modINI::GetINI(updaterIni, u"UPDATER"_s, u"WebSite"_s));
    m_state.Connections =
        connectionsFrom(modINI::GetINI(updaterIni, u"UPDATER"_s, u"Connections"_s));
}

// One run at a time per game folder. A second one waits, touching nothing,
// and goes on by itself once the first has ended. False when the player quit
// while it waited.
bool UpdateSession::acquireLock()
{
    m_lock = std::make_unique<QLockFile>(gamePath(LockName.toString()));
    m_lock->setStaleLockTime(0); // stale only when no running program holds it
    if (!root()) {
        m_lock.reset(); // nothing can be written here: nothing to guard either
        return true;
    }
    QString note;
    const auto attempt = [&] {
        return stalelock::take(*m_lock, *root(), LockName.toString(), &note);
    };
    stalelock::Taken taken = attempt();
    if (taken == stalelock::Taken::Waiting) {
        m_view.setContinueEnabled(false);
        m_view.setStatus(u"Another Update Is Running!"_s);
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if ((taken = attempt()) != stalelock::Taken::Waiting)
                loop.quit();
        });
        poll.start(LockPoll);
        m_waiting = &loop;
        if (!m_quit)
            loop.exec();
        m_waiting = nullptr;
    }
    if (!note.isEmpty())
        m_log.add(note);
    if (taken != stalelock::Taken::Yes)
        m_lock.reset();
    return !m_quit;
}

void UpdateSession::recoverInstall()
{
    if (!root())
        return;
    QString why;
    switch (installjournal::recover(*root(), &why)) {
    case installjournal::Recovery::Nothing:
        break;
    case installjournal::Recovery::Completed:
        m_log.add(u"completed the install an earlier run left unfinished"_s);
        break;
    case installjournal::Recovery::RolledBack:
        m_log.add(u"rolled back an unfinished install whose files were missing"_s);
        break;
    case installjournal::Recovery::Ignored:
        m_log.add(u"install journal ignored: "_s + why);
        break;
    }
    // Part files of a run that was killed before it could install, but for
    // those kept to resume from.
    StagedFiles::sweepTree(*root(), ResumeIndex(*root()).parts());
}

// With a PublicKey in Updater.ini, the manifest counts only when its
// signature verifies against one of the keys and it is neither older than the
// installed one, nor another manifest under the installed serial, nor expired.
bool UpdateSession::manifestIsTrusted(const QByteArray& bytes)
{
    const QString keyText =
        modINI::GetINI(gamePath(u"Updater.ini"_s), u"UPDATER"_s, u"PublicKey"_s).trimmed();
    if (keyText.isEmpty())
        return true;
    const auto keys = verify::parsePublicKeyList(keyText.toUtf8());
    if (!keys) {
        m_log.add(u"PublicKey in Updater.ini: "_s + keys.reason());
        return false;
    }
    MemorySink signature;
    const auto outcome =
        transfer::Outcome(fetch(u"info.ini.sig"_s, signature, MaxSignatureBytes, false));
    if (outcome != transfer::Outcome::Complete)
        return false;
    std::optional<QByteArray> installed;
    if (root() && root()->kindOf(u"info.ini"_s) == GameDir::Kind::File)
        installed = root()->readFile(u"info.ini"_s, MaxManifestBytes);
    const verify::ManifestJudgement judgement = verify::judgeSignedManifest(
        bytes, signature.bytes, keys.value(), installed, QDateTime::currentDateTimeUtc());
    m_log.add(judgement.accepted() ? u"manifest signature verified"_s
                                   : u"manifest refused: "_s + judgement.reason);
    return judgement.accepted();
}

// Fetches the site's manifest into temp.ini; the run reads header and entries
// from these bytes and installs exactly them. The status to end with when
// there is none worth using.
std::optional<QString> UpdateSession::fetchManifest()
{
    const QString unusable = u"Could Not Get Update Information!"_s;
    MemorySink sink;
    const auto outcome = transfer::Outcome(fetch(u"info.ini"_s, sink, MaxManifestBytes, true));
    if (m_quit || outcome == transfer::Outcome::Cancelled)
        return unusable;
    if (outcome != transfer::Outcome::Complete) {
        m_view.setDetail(u"Failed To Download info.ini!"_s);
        return unusable;
    }
    if (!manifestIsTrusted(sink.bytes))
        return m_quit ? unusable : u"Could Not Verify Update Information!"_s;
    if (!root() || !root()->writeFileAtomically(u"temp.ini"_s, sink.bytes)) {
        noteFailure(u"Could Not Write temp.ini!"_s);
        m_view.setDetail(m_firstFailure);
        return unusable;
    }
    m_view.setDetail(u"Downloaded info.ini!"_s);
    m_manifestBytes = std::move(sink.bytes);
    const Manifest manifest = Manifest::parse(m_manifestBytes);
    m_state.GameFile = manifest.gameFileName();
    m_state.RemoteVersion = manifest.version();
    const std::optional<std::int32_t> count = manifest.entryCount();
    m_log.add(u"installed version \"%1\", site version \"%2\", Max %3"_s.arg(
        m_state.LocalVersion, m_state.RemoteVersion, manifest.versionValue("Max")));
    if (!count || m_state.RemoteVersion.isEmpty())
        return unusable;
    m_state.EntryCount = *count;
    return std::nullopt;
}

// When the manifest gives sizes, the files to stage must fit before the
// first byte is fetched.
bool UpdateSession::hasRoomForFiles()
{
    if (m_state.PendingBytes <= 0)
        return true;
    QStorageInfo storage(m_gameFolder);
    if (!storage.isValid() || storage.bytesAvailable() < 0)
        return true;
    // A little room beyond the files: folders, the journal, the manifest.
    constexpr qint64 Margin = 1024 * 1024;
    if (storage.bytesAvailable() >=
        updaterules::addSizes(m_state.PendingBytes, std::min(Margin, m_state.PendingBytes)))
        return true;
    m_log.add(
        u"%1 bytes to stage, %2 free"_s.arg(m_state.PendingBytes).arg(storage.bytesAvailable()));
    return false;
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
    m_staged.reset(); // its part files go
    m_view.setStatus(status);
    if (!m_state.LocalVersion.isEmpty())
        m_view.setVersion("Version "_L1 + m_state.LocalVersion);
    m_view.setDetail(m_firstFailure);
    m_view.setContinueEnabled(true);
    m_view.updateFinished(false); // last: the final frame goes out with it
    deleteTempManifest();
    endRun(status);
}

// Files and manifest go in together, or nothing does. The manifest installed
// is the one the run worked from, so temp.ini must still hold those bytes.
bool UpdateSession::installSet()
{
    if (!root() || root()->readFile(u"temp.ini"_s, MaxManifestBytes) != m_manifestBytes)
        return false;
    if (!m_staged)
        m_staged = std::make_unique<StagedFiles>(*root());
    if (!m_staged->stageManifest(m_manifestBytes)) {
        noteFailure(u"Could Not Write info.ini!"_s);
        return false;
    }
    m_view.installStarted();
    const QStringList failed = m_staged->install();
    m_staged.reset();
    for (const QString& localName : failed) {
        noteFailure("Could Not Write "_L1 + localName + u'!');
        m_view.setDetail("Could Not Write "_L1 + localName + u'!');
    }
    return failed.isEmpty();
}

void UpdateSession::finishUpdate()
{
    m_view.setStatus(u"Checking File Versions..."_s);
    bool complete = true;
    if (m_state.EntryCount > 0) {
        LoadManifests();
        if (!hasRoomForFiles()) {
            endWithoutInstalling(u"Not Enough Disk Space!"_s);
            return;
        }
        // What the run did so far reaches the log before the long part, so
        // a run that is killed still leaves a trace for support.
        if (root())
            m_log.flush(*root());
        complete = UpdateFiles();
    }
    if (m_quit)
        return;
    if (complete && !installSet() && m_firstFailure.isEmpty()) {
        endWithoutInstalling(u"Could Not Get Update Information!"_s);
        return;
    }
    if (!complete || !m_firstFailure.isEmpty()) {
        endWithoutInstalling(u"Update Incomplete, Please Try Again!"_s);
        return;
    }
    const QString status = "Updated To Version "_L1 + m_state.RemoteVersion + u'!';
    m_view.setContinueEnabled(true);
    m_view.setVersion("Version "_L1 + m_state.RemoteVersion);
    m_view.setStatus(status);
    m_view.setDetail(QString());
    m_view.updateFinished(true); // last: the final frame goes out with it
    deleteTempManifest();
    endRun(status);
}

void UpdateSession::UpdateRun()
{
    // However the run ends (a quit included): staged parts go, the log is
    // written and the folder is free for the next run.
    const auto release = qScopeGuard([this] {
        m_staged.reset();
        if (root())
            m_log.flush(*root());
        m_lock.reset();
    });
    m_state.EntryCount = 0;
    readConfiguration();
    m_view.showWindow(m_state.BaseUrl);
    if (!acquireLock())
        return;
    recoverInstall();
    const QString updaterIni = gamePath(u"Updater.ini"_s);
    if (!gamefolder::plainFileExists(updaterIni) && root()) {
        // Made like every other file here: a link in its place is replaced.
        root()->writeFileAtomically(u"Updater.ini"_s, "[UPDATER]\r\nWebSite=\r\n");
        readConfiguration();
    }
    const QString infoIni = gamePath(u"info.ini"_s);
    if (gamefolder::plainFileExists(infoIni))
        m_state.LocalVersion = modINI::GetINI(infoIni, u"VERSION"_s, u"Version"_s);
    m_log.add(u"start: Quorvane " QV_VERSION_STRING ", site \"%1\""_s.arg(m_state.BaseUrl));

    if (!m_state.LocalVersion.isEmpty())
        m_view.setVersion("Version "_L1 + m_state.LocalVersion);
    else
        m_view.setStatus(u"No Version Info!"_s);

    if (m_state.BaseUrl.isEmpty()) {
        m_view.setContinueEnabled(true);
        m_view.setStatus(u"Please Input The Correct Web URL!"_s);
        endRun(u"Please Input The Correct Web URL!"_s);
        return;
    }
    if (m_quit)
        return;

    m_view.setContinueEnabled(false);
    m_view.setStatus(u"Getting News..."_s);
    m_view.setStatus(u"Getting Information..."_s);

    const std::optional<QString> unusable = fetchManifest();
    if (m_quit)
        return;
    if (unusable) {
        endWithoutInstalling(*unusable);
        return;
    }
    if (m_state.RemoteVersion != m_state.LocalVersion || needsRepair()) {
        finishUpdate();
        return;
    }
    m_view.setVersion("Version "_L1 + m_state.RemoteVersion);
    m_view.setStatus(u"You Have The Latest Version!"_s);
    m_view.setDetail(QString());
    m_view.setContinueEnabled(true);
    deleteTempManifest();
    endRun(u"You Have The Latest Version!"_s);
}
