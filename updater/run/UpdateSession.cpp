#include "UpdateSession.h"

#include "FileQueue.h"
#include "Inet.h"
#include "Manifest.h"
#include "MemorySink.h"
#include "PartSink.h"
#include "ResumeIndex.h"
#include "RunLog.h"
#include "StagedFiles.h"
#include "UpdateRules.h"
#include "UpdateView.h"

#include <QLockFile>

#include <limits>

using namespace Qt::StringLiterals;

UpdateSession::UpdateSession(QString gameFolder, Inet& inet, UpdateView& view, QObject* parent)
    : QObject(parent), m_gameFolder(std::move(gameFolder)), m_inet(inet), m_view(view), m_log()
{
    connect(&m_lockPoll, &QTimer::timeout, this, &UpdateSession::pollLock);
}

// The program ends: whatever runs stops, and what the disk thread was given
// is done before the objects it uses go.
UpdateSession::~UpdateSession()
{
    m_disk.requestStop();
    m_disk.waitForTasks(); // a task under way uses the members finish() hands over
    if (m_queue) {
        m_queue->cancel();
        m_queue.reset();
    }
    finish();
    m_disk.waitForTasks();
}

const GameDir* UpdateSession::root()
{
    if (!m_root)
        m_root = GameDir::openRoot(m_gameFolder);
    return m_root ? &*m_root : nullptr;
}

void UpdateSession::noteFailure(const QString& text)
{
    if (m_firstFailure.isEmpty())
        m_firstFailure = text;
}

QString UpdateSession::gamePath(const QString& name) const
{
    return m_gameFolder + u'/' + name;
}

int UpdateSession::connectionsFrom(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int value = trimmed.toInt(&ok);
    const bool digitsOnly =
        !trimmed.isEmpty() && std::all_of(trimmed.cbegin(), trimmed.cend(),
                                          [](QChar c) { return c >= u'0' && c <= u'9'; });
    return ok && digitsOnly && value >= 1 && value <= MaxConnections ? value : DefaultConnections;
}

void UpdateSession::enterStep(Step step)
{
    emit stepStarted(step);
}

void UpdateSession::requestQuit()
{
    m_quit = true;
    m_disk.requestStop();
    if (m_mode == Mode::Idle)
        return;
    m_lockPoll.stop();
    if (m_queue)
        m_queue->cancel();
    // A task on the disk thread ends the run when it comes back.
    if (!m_disk.busy())
        finish();
}

void UpdateSession::onDisk(std::function<void()> work, std::function<void()> then)
{
    m_disk.post(std::move(work), [this, then = std::move(then)] {
        if (m_quit)
            finish();
        else if (m_mode != Mode::Idle)
            then();
    });
}

// However the run ends (a quit included): staged parts go (those kept to
// resume from stay, with their records), the log is written, and then the
// folder is free for the next run.
void UpdateSession::finish()
{
    if (m_mode == Mode::Idle)
        return;
    const Mode mode = std::exchange(m_mode, Mode::Idle);
    m_lockPoll.stop();
    m_verifyTick.stop();
    if (m_queue)
        m_queue->cancel(); // inert from here; replaced or destroyed later
    const GameDir* folder = m_root ? &*m_root : nullptr;
    const QByteArray lines = mode == Mode::Run ? m_log.takePending() : QByteArray();
    const bool dropTemp = std::exchange(m_dropTempManifest, false);
    const bool quit = m_quit;
    std::shared_ptr<PartSink> single(m_single.release());
    std::shared_ptr<StagedFiles> staged(m_staged.release());
    std::shared_ptr<ResumeIndex> resumes(m_resumes.release());
    m_disk.post(
        [=]() mutable {
            single.reset();     // before the set it belongs to
            if (staged && quit) // the program is ending: large parts are the next start's
                staged->abandon(LeftForNextStart);
            staged.reset();
            if (resumes)
                resumes->save();
            if (folder && dropTemp && folder->kindOf(u"temp.ini"_s) == GameDir::Kind::File)
                folder->removeFile(u"temp.ini"_s);
            if (folder)
                RunLog::writeTo(*folder, lines);
        },
        [this] {
            m_lock.reset();
            emit finished();
        });
}

std::unique_ptr<FileQueue> UpdateSession::makeQueue(std::int32_t pendingTotal)
{
    FileQueue::Setup setup{root(),          m_staged.get(),
                           m_state.BaseUrl, m_state.Connections,
                           pendingTotal,    [this](const QString& line) { m_log.add(line); },
                           m_resumes.get()};
    setup.mend = m_state.Mending;
    setup.writer = &m_writer;
    setup.offThread = [this](std::function<void()> work, std::function<void()> then) {
        onDisk(std::move(work), std::move(then));
    };
    setup.stop = m_disk.stopCheck();
    return std::make_unique<FileQueue>(m_inet, m_view, std::move(setup));
}

// A single file is a queue of one.
void UpdateSession::fetchOne(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
                             bool showProgress, std::function<void(transfer::Outcome)> then)
{
    m_queue = makeQueue(0);
    connect(
        m_queue.get(), &FileQueue::finished, this,
        [this, then = std::move(then)] {
            if (m_mode == Mode::Idle || m_quit)
                return;
            const auto next = then; // the queue may be replaced by what follows
            next(m_queue->outcomeOfOne());
        },
        Qt::QueuedConnection);
    m_queue->startOne(remoteName, sink, sizeLimit, showProgress);
}

void UpdateSession::DownloadFile(const QString& remoteName, const QString& localName,
                                 const QString& subFolder)
{
    if (m_mode != Mode::Idle)
        return;
    m_mode = Mode::Download;
    m_downloaded = false;
    m_queue.reset();
    if (localName.trimmed().isEmpty() || m_quit)
        return endDownload(false, QString());
    QString folder = subFolder.trimmed();
    if (!folder.isEmpty() && updaterules::isSeparator(folder.front()))
        folder.remove(0, 1);
    if (!folder.isEmpty() && updaterules::isSeparator(folder.back()))
        folder.chop(1);
    if (updaterules::isUnsafeEntry(folder, localName))
        return endDownload(false, "Skipped Unsafe File "_L1 + remoteName + u'!');
    QStringList folders = updaterules::pathSegments(folder);
    QStringList nameParts = updaterules::pathSegments(localName);
    const QString fileName = nameParts.takeLast();
    folders.append(nameParts);

    if (!root())
        return endDownload(false, "Could Not Write "_L1 + localName + u'!');
    m_staged = std::make_unique<StagedFiles>(*root());
    m_single =
        std::make_unique<PartSink>(*m_staged, *root(), folders, fileName, localName, &m_writer);
    fetchOne(remoteName, *m_single, -1, true, [this, remoteName, localName](auto outcome) {
        if (outcome == transfer::Outcome::Complete && m_single->commit()) {
            auto failed = std::make_shared<QStringList>();
            onDisk([this, failed] { *failed = m_staged->install(m_disk.stopCheck()); },
                   [this, failed, remoteName, localName] {
                       if (failed->isEmpty())
                           endDownload(true, "Downloaded "_L1 + remoteName + u'!');
                       else
                           endDownload(false, "Could Not Write "_L1 + localName + u'!');
                   });
        } else if (outcome == transfer::Outcome::Complete ||
                   outcome == transfer::Outcome::WriteFailed) {
            endDownload(false, "Could Not Write "_L1 + localName + u'!');
        } else {
            endDownload(false, "Failed To Download "_L1 + remoteName + u'!');
        }
    });
}

void UpdateSession::endDownload(bool ok, const QString& text)
{
    if (!text.isEmpty())
        m_view.setDetail(text);
    m_downloaded = ok;
    finish();
}

void UpdateSession::LoadManifests()
{
    const std::int32_t count = std::max<std::int32_t>(m_state.EntryCount, 0);
    m_state.RemoteEntries.clear();
    m_state.LocalEntries.clear();
    // The downloaded manifest as the run read it, not as temp.ini may be now.
    if (!m_remote) {
        if (m_manifestBytes.isEmpty() && root())
            m_manifestBytes =
                root()->readFile(u"temp.ini"_s, MaxManifestBytes).value_or(QByteArray());
        m_remote = Manifest::parse(m_manifestBytes);
    }
    m_state.RemoteEntries = m_remote->entries(count);
    m_state.LocalEntries = pairInstalled(m_state.RemoteEntries, installedManifest().parsed);

    m_state.PendingTotal = 0;
    m_state.PendingBytes = 0;
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        const ManifestEntry& remote = m_state.RemoteEntries.at(n);
        const ManifestEntry& local = m_state.LocalEntries.at(n);
        if (!hasName(remote) || updaterules::isUnsafeEntry(remote.FilePath, remote.FileName))
            continue;
        if (!hasName(local) || updaterules::sortsAfter(remote.FileVersion, local.FileVersion)) {
            ++m_state.PendingTotal;
            if (remote.FileSize)
                m_state.PendingBytes =
                    updaterules::addSizes(m_state.PendingBytes, *remote.FileSize);
        }
    }
}
