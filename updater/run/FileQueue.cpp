#include "FileQueue.h"
#include "FileQueueJob.h"

#include "GameDir.h"
#include "Inet.h"
#include "Manifest.h"
#include "PartSink.h"
#include "Progress.h"
#include "ResumablePart.h"
#include "ResumeIndex.h"
#include "StagedFiles.h"
#include "UpdateRules.h"
#include "UpdateView.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <climits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// True when a folder on the entry's way is a symbolic link: it could lead
// outside the game folder, so the entry is refused.
bool leadsThroughLink(const GameDir& root, const QStringList& segments)
{
    std::optional<GameDir> folder = root.openSub({}, false);
    for (const QString& segment : std::as_const(segments)) {
        if (!folder)
            return false;
        switch (folder->kindOf(segment)) {
        case GameDir::Kind::Link:
            return true;
        case GameDir::Kind::Folder:
        case GameDir::Kind::Missing: // another letter case may exist
            folder = folder->openSub({segment}, false);
            break;
        default:
            return false;
        }
    }
    return false;
}

// The walk checks each folder once, however many files it holds.
bool leadsThroughLink(const GameDir& root, const ManifestEntry& entry,
                      QHash<QStringList, bool>& known)
{
    QStringList segments = updaterules::pathSegments(entry.FilePath);
    QStringList nameParts = updaterules::pathSegments(entry.FileName);
    nameParts.removeLast();
    segments.append(nameParts);
    const auto found = known.constFind(segments);
    if (found != known.cend())
        return *found;
    const bool link = leadsThroughLink(root, segments);
    known.insert(segments, link);
    return link;
}

} // namespace

FileQueue::FileQueue(Inet& inet, UpdateView& view, Setup setup, QObject* parent)
    : QObject(parent), m_inet(inet), m_view(view), m_setup(std::move(setup))
{}

FileQueue::~FileQueue()
{
    cancel();
}

void FileQueue::start(const QVector<ManifestEntry>& remote, const QVector<ManifestEntry>& local)
{
    m_inet.setConnections(m_setup.connections);
    // The manifest came from the same site: when it came over HTTP/2, the
    // files need not wait for a first answer to start side by side.
    m_multiplexed = m_inet.multiplexes(QUrl(m_setup.baseUrl));
    m_jobs.resize(std::size_t(remote.size()));
    QHash<QStringList, bool> linkedFolders;
    for (qsizetype n = 0; n < remote.size(); ++n) {
        Job& job = m_jobs[std::size_t(n)];
        job.remote = remote.at(n);
        job.local = n < local.size() ? local.at(n) : ManifestEntry{};
        job.done = true;
        if (!hasName(job.remote))
            continue;
        if (updaterules::isUnsafeEntry(job.remote.FilePath, job.remote.FileName) ||
            leadsThroughLink(*m_setup.root, job.remote, linkedFolders)) {
            job.action = Job::Action::Unsafe;
            job.ok = false;
            continue;
        }
        const int order =
            updaterules::compareVersions(job.remote.FileVersion, job.local.FileVersion);
        job.mending = order == 0 && hasName(job.local) && m_setup.mend.contains(n);
        if (!hasName(job.local) || order > 0 || job.mending) {
            job.action = Job::Action::Download;
            job.done = false;
            prepare(job);
        } else if (order == 0) {
            job.action = Job::Action::UpToDate;
        }
    }
    planProgress();
    fillSlots();
    present();
}

void FileQueue::startOne(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
                         bool showProgress)
{
    Job& job = m_jobs.emplace_back();
    job.action = Job::Action::Single;
    job.remote.FileName = remoteName;
    job.url = QUrl(m_setup.baseUrl + QString::fromLatin1(updaterules::encodeRemoteName(remoteName)),
                   QUrl::TolerantMode);
    job.single = &sink;
    job.sizeLimit = sizeLimit;
    job.showProgress = showProgress;
    fillSlots();
    present();
}

bool FileQueue::complete() const
{
    return std::all_of(m_jobs.cbegin(), m_jobs.cend(), [](const Job& job) { return job.ok; });
}

transfer::Outcome FileQueue::outcomeOfOne() const
{
    return m_jobs.empty() ? transfer::Outcome::Running : m_jobs.front().outcome;
}

void FileQueue::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    for (Job& job : m_jobs) {
        job.retry.reset();
        if (job.transfer)
            job.transfer->cancel();
        job.transfer.reset();
        if (job.sink && (!job.forms || job.forms->onPlain()))
            keepForResume(job);
        if (job.resume && m_setup.resumes)
            m_setup.resumes->put(*job.resume);
        job.sink.reset();
    }
}

void FileQueue::fillSlots()
{
    // HTTP/2 multiplexes many files on one connection, once the site has
    // answered over it. Until then, and over HTTP/1.1 (an https site may
    // offer nothing else), no more files start than there are connections:
    // with files queued inside it, curl goes on from one to the next on a
    // reused connection within one round of socket work, keeping the window
    // from painting for as long as the server answers at once.
    const int limit = m_multiplexed ? Inet::MaxInFlight : m_inet.connections();
    while (!m_cancelled && m_inFlight < limit && m_next < m_jobs.size()) {
        const std::size_t index = m_next++;
        Job& job = m_jobs[index];
        if (job.action != Job::Action::Download && job.action != Job::Action::Single)
            continue;
        if (!job.remote.BadCheck.isEmpty()) {
            // Never fetched unchecked: a damaged check fails the file.
            if (m_setup.log)
                m_setup.log(u"file %1: %2"_s.arg(job.remote.FileName, job.remote.BadCheck));
            const QString text = "Failed To Download "_L1 + job.remote.FileName + u'!';
            job.ok = false;
            job.done = true;
            if (m_firstFailure.isEmpty())
                m_firstFailure = text;
            post(job, StatusField::Detail, text);
            m_view.fileDone(int(index), false);
            continue;
        }
        ++m_inFlight;
        startAttempt(index);
    }
}

void FileQueue::startAttempt(std::size_t index)
{
    Job& job = m_jobs[index];
    if (job.action == Job::Action::Download && !job.forms && !job.formsPlanned && !job.resume &&
        !job.remote.Forms.isEmpty()) {
        planForms(index);
        return;
    }
    ++job.attempts;
    job.clock.start();
    job.progress.reset();
    if (job.action == Job::Action::Single) {
        transfer::Validators checks;
        if (job.sizeLimit >= 0)
            checks.push_back(std::make_unique<transfer::SizeLimit>(job.sizeLimit));
        job.transfer = m_inet.start(job.url, *job.single, std::move(checks));
        watch(index);
        return;
    }
    QStringList folders = updaterules::pathSegments(job.remote.FilePath);
    QStringList nameParts = updaterules::pathSegments(job.remote.FileName);
    const QString fileName = nameParts.takeLast();
    folders.append(nameParts);
    job.sink = std::make_unique<PartSink>(*m_setup.staged, *m_setup.root, folders, fileName,
                                          job.remote.FileName, m_setup.writer);
    qint64 rangeFrom = -1;
    QByteArray ifRange;
    if (job.resume) {
        QString why;
        if (auto part = resumablepart::open(*m_setup.root, *job.resume, &why)) {
            rangeFrom = part->size;
            ifRange = job.resume->validator; // a record always has one
            job.sink->resumeFrom(std::move(*part), job.resume->folderPath, job.resume->part,
                                 job.resume->validator);
        } else if (m_setup.log) {
            m_setup.log(u"file %1: not continued: %2"_s.arg(job.remote.FileName, why));
        }
        job.resume.reset();
    }
    transfer::Validators checks;
    if (job.remote.FileSize || job.remote.FileHash)
        checks.push_back(
            std::make_unique<transfer::ExpectedFile>(job.remote.FileSize, job.remote.FileHash));
    transfer::BodySink& sink =
        job.forms ? job.forms->sinkFor(*job.sink, *job.sink, checks) : *job.sink;
    const QUrl url = job.forms ? job.forms->url(m_setup.baseUrl, job.url) : job.url;
    replan(index);
    job.transfer = m_inet.start(url, sink, std::move(checks), rangeFrom, ifRange);
    connect(job.transfer.get(), &transfer::Transfer::headAccepted, this, [this, index] {
        Job& started = m_jobs[index];
        started.validator = started.transfer->head().validator;
        if (!m_multiplexed && started.transfer->multiplexed()) {
            m_multiplexed = true;
            QMetaObject::invokeMethod(this, &FileQueue::fillSlots, Qt::QueuedConnection);
        }
        const qint64 total = started.remote.FileSize.value_or(
            std::max<qint64>(started.transfer->head().resumedAt, 0) +
            started.transfer->head().declaredLength);
        m_view.fileStarted(int(index), std::max<qint64>(started.transfer->head().resumedAt, 0));
        const bool plain = !started.forms || started.forms->onPlain();
        if (plain && total >= RecordEarlyBytes && ResumeIndex::isUsableValidator(started.validator))
            recordResume(started);
    });
    watch(index);
}

void FileQueue::watch(std::size_t index)
{
    transfer::Transfer* current = m_jobs[index].transfer.get();
    connect(
        current, &transfer::Transfer::progressed, this,
        [this, index](qint64 received, qint64 declared) { onProgress(index, received, declared); });
    connect(current, &transfer::Transfer::finished, this, [this, index] { onFinished(index); });
    // A transfer that ended while it was being started gets its end all the same.
    if (current->isFinished())
        QMetaObject::invokeMethod(
            this,
            [this, index, current] {
                if (m_jobs[index].transfer.get() == current)
                    onFinished(index);
            },
            Qt::QueuedConnection);
}

void FileQueue::onProgress(std::size_t index, qint64 received, qint64 declared)
{
    Job& job = m_jobs[index];
    if (!job.showProgress)
        return;
    if (!job.progress)
        job.progress.emplace(declared, [this, &job](const QString& text) {
            post(job, StatusField::Progress, text);
        });
    job.progress->advanceTo(received);
    if (job.action == Job::Action::Download) // a single file is not part of the update's bytes
        m_view.fileProgressed(int(index), received);
    present();
}

void FileQueue::onFinished(std::size_t index)
{
    Job& job = m_jobs[index];
    if (m_cancelled || !job.transfer)
        return;
    // Deleted later: this runs inside the transfer's own signal.
    transfer::Transfer* done = job.transfer.release();
    done->deleteLater();
    if (job.action == Job::Action::Single) {
        finishOne(job, *done);
        return;
    }
    const QString& name = job.remote.FileName;
    logAttempt(job, *done);
    if (done->outcome() != transfer::Outcome::Complete && job.forms && !job.forms->onPlain()) {
        const QString why = job.forms->fallBack(done->failure());
        if (m_setup.log)
            m_setup.log(why);
        job.sink.reset();
        job.validator.clear();
        job.attempts = 0; // the next form has its own retries
        startAttempt(index);
        return;
    }

    if (done->outcome() == transfer::Outcome::Complete && m_setup.resumes)
        m_setup.resumes->remove(job.target);
    if (done->outcome() == transfer::Outcome::Complete) {
        if (job.progress)
            job.progress->advanceTo(done->received());
        const bool written = job.sink->commit();
        job.sink.reset();
        finishJob(job, written,
                  written ? "Downloaded "_L1 + name + u'!' : "Could Not Write "_L1 + name + u'!');
        return;
    }
    if (!done->isTransient() && job.sink->offeredResume()) {
        // The kept bytes could not be continued (another version, a changed
        // part, a 206 that does not fit): they are gone, the file starts over.
        if (m_setup.resumes)
            m_setup.resumes->remove(job.target);
        job.sink.reset();
        startAttempt(index);
        return;
    }
    if (done->isTransient())
        keepForResume(job); // the next try, or a later run, goes on from there
    else if (m_setup.resumes)
        m_setup.resumes->remove(job.target);
    job.sink.reset(); // removes a part file not kept, and the folders it made
    const auto& delays = m_inet.retryDelays();
    if (done->isTransient() && job.attempts <= int(delays.size())) {
        post(job, StatusField::Detail, "Retrying "_L1 + name + "..."_L1);
        const int base = int(delays[std::size_t(job.attempts - 1)].count());
        const int jitter = QRandomGenerator::global()->bounded(base / 5 * 2 + 1) - base / 5;
        job.retry = std::make_unique<QTimer>();
        job.retry->setSingleShot(true);
        connect(job.retry.get(), &QTimer::timeout, this, [this, index] { startAttempt(index); });
        job.retry->start(base + jitter);
        present();
        return;
    }
    if (job.resume && m_setup.resumes)
        m_setup.resumes->put(*job.resume);
    const bool notWritten = done->outcome() == transfer::Outcome::WriteFailed;
    finishJob(job, false,
              (notWritten ? "Could Not Write "_L1 : "Failed To Download "_L1) + name + u'!');
}

void FileQueue::finishOne(Job& job, const transfer::Transfer& done)
{
    if (m_setup.log)
        m_setup.log(u"%1: HTTP %2, %3 bytes, %4"_s.arg(job.remote.FileName)
                        .arg(done.status())
                        .arg(done.received())
                        .arg(done.outcome() == transfer::Outcome::Complete ? u"complete"_s
                                                                           : done.failure()));
    job.outcome = done.outcome();
    job.ok = job.outcome == transfer::Outcome::Complete;
    if (job.ok && job.progress)
        job.progress->advanceTo(done.received());
    job.done = true;
    --m_inFlight;
    present();
}

void FileQueue::logAttempt(const Job& job, const transfer::Transfer& done)
{
    if (!m_setup.log)
        return;
    const QString outcome =
        done.outcome() == transfer::Outcome::Complete ? u"complete"_s : done.failure();
    m_setup.log(u"file %1 (try %2): HTTP %3, %4 bytes, %5 ms, %6"_s.arg(job.remote.FileName)
                    .arg(job.attempts)
                    .arg(done.status())
                    .arg(done.received())
                    .arg(job.clock.elapsed())
                    .arg(outcome));
}

void FileQueue::finishJob(Job& job, bool ok, const QString& text)
{
    job.ok = ok;
    job.done = true;
    if (!ok && m_firstFailure.isEmpty())
        m_firstFailure = text;
    post(job, StatusField::Detail, text);
    m_view.fileDone(int(&job - m_jobs.data()), ok);
    --m_inFlight;
    fillSlots();
    present();
}
