#include "UpdateSession.h"

#include "FileQueue.h"
#include "GameFolder.h"
#include "Inet.h"
#include "Manifest.h"
#include "PartSink.h"
#include "Progress.h"
#include "ResumeIndex.h"
#include "RunLog.h"
#include "StagedFiles.h"
#include "UpdateRules.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QEventLoop>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QUrl>

#include <limits>

using namespace Qt::StringLiterals;

UpdateSession::UpdateSession(QString gameFolder, Inet& inet, UpdateView& view, QObject* parent)
    : QObject(parent), m_gameFolder(std::move(gameFolder)), m_inet(inet), m_view(view), m_log()
{}

UpdateSession::~UpdateSession() = default;

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

void UpdateSession::requestQuit()
{
    m_quit = true;
    if (m_waiting)
        m_waiting->quit();
    if (m_current)
        m_current->cancel();
    if (m_queue)
        m_queue->cancel();
}

// One transfer of BaseUrl + remoteName into `sink`, waited for while the
// window stays live. Returns the outcome as an int of transfer::Outcome.
int UpdateSession::fetch(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
                         bool showProgress)
{
    transfer::Validators checks;
    if (sizeLimit >= 0)
        checks.push_back(std::make_unique<transfer::SizeLimit>(sizeLimit));
    const QUrl url(m_state.BaseUrl + QString::fromLatin1(updaterules::encodeRemoteName(remoteName)),
                   QUrl::TolerantMode);
    std::unique_ptr<transfer::Transfer> transfer = m_inet.start(url, sink, std::move(checks));
    m_current = transfer.get();
    std::optional<Progress> progress;
    connect(transfer.get(), &transfer::Transfer::progressed, this,
            [&](qint64 received, qint64 declared) {
                if (!showProgress)
                    return;
                if (!progress)
                    progress.emplace(declared, [this](const QString& t) { m_view.setProgress(t); });
                progress->advanceTo(received);
            });
    QEventLoop loop;
    connect(transfer.get(), &transfer::Transfer::finished, &loop, &QEventLoop::quit);
    if (!transfer->isFinished())
        loop.exec();
    m_current = nullptr;
    if (transfer->outcome() == transfer::Outcome::Complete && progress)
        progress->advanceTo(transfer->received());
    m_log.add(u"%1: HTTP %2, %3 bytes, %4"_s.arg(remoteName)
                  .arg(transfer->status())
                  .arg(transfer->received())
                  .arg(transfer->outcome() == transfer::Outcome::Complete ? u"complete"_s
                                                                          : transfer->failure()));
    return int(transfer->outcome());
}

bool UpdateSession::DownloadFile(const QString& remoteName, const QString& localName,
                                 const QString& subFolder)
{
    if (localName.trimmed().isEmpty() || m_quit)
        return false;
    QString folder = subFolder.trimmed();
    if (!folder.isEmpty() && updaterules::isSeparator(folder.front()))
        folder.remove(0, 1);
    if (!folder.isEmpty() && updaterules::isSeparator(folder.back()))
        folder.chop(1);
    if (updaterules::isUnsafeEntry(folder, localName)) {
        m_view.setDetail("Skipped Unsafe File "_L1 + remoteName + u'!');
        return false;
    }
    QStringList folders = updaterules::pathSegments(folder);
    QStringList nameParts = updaterules::pathSegments(localName);
    const QString fileName = nameParts.takeLast();
    folders.append(nameParts);

    if (!root()) {
        m_view.setDetail("Could Not Write "_L1 + localName + u'!');
        return false;
    }
    StagedFiles staged(*root());
    PartSink sink(staged, *root(), folders, fileName, localName);
    const auto outcome = transfer::Outcome(fetch(remoteName, sink, -1, true));
    if (m_quit || outcome == transfer::Outcome::Cancelled)
        return false;
    if (outcome == transfer::Outcome::Complete && sink.commit() && staged.install().isEmpty()) {
        m_view.setDetail("Downloaded "_L1 + remoteName + u'!');
        return true;
    }
    if (outcome == transfer::Outcome::Complete || outcome == transfer::Outcome::WriteFailed) {
        m_view.setDetail("Could Not Write "_L1 + localName + u'!');
        return false;
    }
    m_view.setDetail("Failed To Download "_L1 + remoteName + u'!');
    return false;
}

void UpdateSession::LoadManifests()
{
    const std::int32_t count = std::max<std::int32_t>(m_state.EntryCount, 0);
    m_state.RemoteEntries.clear();
    m_state.LocalEntries.clear();
    // The downloaded manifest as the run read it, not as temp.ini may be now.
    if (m_manifestBytes.isEmpty() && root())
        m_manifestBytes = root()->readFile(u"temp.ini"_s, MaxManifestBytes).value_or(QByteArray());
    m_state.RemoteEntries = Manifest::parse(m_manifestBytes).entries(count);
    m_state.LocalEntries = QVector<ManifestEntry>(m_state.RemoteEntries.size());
    const QString localFile = gamePath(u"info.ini"_s);
    if (gamefolder::plainFileExists(localFile))
        m_state.LocalEntries = pairInstalled(m_state.RemoteEntries, Manifest::load(localFile));

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
    findRepairs();
}

// Interrupted downloads of files this manifest still wants stay; the rest go.
void UpdateSession::prepareResumes()
{
    m_resumes = std::make_unique<ResumeIndex>(*root());
    for (const QString& why : m_resumes->voided())
        m_log.add(u"Quorvane.resume: record ignored, "_s + why);
    QHash<QString, ResumeRecord> wanted;
    for (const ManifestEntry& entry : std::as_const(m_state.RemoteEntries)) {
        if (hasName(entry) && !updaterules::isUnsafeEntry(entry.FilePath, entry.FileName)) {
            const ResumeRecord key = FileQueue::resumeKey(entry, m_state.BaseUrl);
            wanted.insert(ResumeIndex::keyOf(key.target), key);
        }
    }
    m_resumes->prune(wanted);
    for (const QString& part : m_resumes->parts())
        m_staged->spare(part);
}

bool UpdateSession::UpdateFiles()
{
    if (m_quit)
        return false;
    m_view.setStatus(QString());
    m_state.DownloadCounter = 0;
    if (!root()) {
        noteFailure(u"Could Not Write temp.ini!"_s);
        return false;
    }
    if (!m_staged)
        m_staged = std::make_unique<StagedFiles>(*root());
    if (m_verify)
        verifyInstalled();
    if (m_quit)
        return false;
    prepareResumes();
    FileQueue::Setup setup{root(),
                           m_state.BaseUrl,
                           m_state.Connections,
                           m_state.PendingTotal,
                           [this](const QString& line) { m_log.add(line); },
                           m_resumes.get()};
    setup.mend = m_state.Mending;
    FileQueue queue(m_inet, m_view, *m_staged, std::move(setup));
    m_queue = &queue;
    const bool complete =
        queue.run(m_state.RemoteEntries, m_state.LocalEntries, m_state.DownloadCounter);
    m_queue = nullptr;
    m_resumes->save();
    if (!queue.firstFailure().isEmpty())
        noteFailure(queue.firstFailure());
    if (complete && !m_quit)
        m_state.LocalEntries = m_state.RemoteEntries;
    return complete && !m_quit;
}
