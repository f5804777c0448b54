// Continuing interrupted downloads: what a download is recorded as, what an
// earlier try left, and when the bytes so far are worth keeping.

#include "FileQueue.h"
#include "FileQueueJob.h"
#include "GameDir.h"
#include "ResumeIndex.h"
#include "UpdateRules.h"

using namespace Qt::StringLiterals;

namespace {

QString hexOf(const std::optional<QByteArray>& hash)
{
    return hash ? QString::fromLatin1(hash->toHex()) : QString();
}

} // namespace

ResumeRecord FileQueue::resumeKey(const ManifestEntry& entry, const QString& baseUrl)
{
    QStringList segments = updaterules::pathSegments(entry.FilePath);
    segments.append(updaterules::pathSegments(entry.FileName));
    const QUrl url(baseUrl + QString::fromLatin1(updaterules::encodeRemoteName(entry.FileName)),
                   QUrl::TolerantMode);
    ResumeRecord key;
    key.target = segments.join(u'/');
    key.url = url.toString();
    key.version = entry.FileVersion;
    key.size = entry.FileSize.value_or(-1);
    key.hash = hexOf(entry.FileHash).toLatin1();
    return key;
}

// Where the file goes and comes from, and what an earlier run left of it.
void FileQueue::prepare(Job& job)
{
    const ResumeRecord key = resumeKey(job.remote, m_setup.baseUrl);
    job.target = key.target;
    job.url = QUrl(key.url);
    if (m_setup.resumes)
        job.resume = m_setup.resumes->take(key);
}

// After an interruption: the bytes so far stay for a later try when they are
// worth it and the server gave a validator that a later If-Range can name.
void FileQueue::keepForResume(Job& job)
{
    const auto held = job.sink->held();
    if (!held)
        return;
    ResumeRecord record = resumeKey(job.remote, m_setup.baseUrl);
    record.folderPath = held->folderPath;
    record.part = held->name;
    record.validator = held->validator;
    record.partSize = held->size;
    // Otherwise the part goes with the sink, and the folders made for it.
    if (held->size >= MinResumeBytes && ResumeIndex::problemOf(record).isEmpty() &&
        job.sink->keep())
        job.resume = record;
}

void FileQueue::recordResume(const Job& job)
{
    if (!m_setup.resumes || !job.sink->part().file)
        return;
    const StagedFiles::Part& part = job.sink->part();
    ResumeRecord record = resumeKey(job.remote, m_setup.baseUrl);
    record.folderPath = part.folderPath;
    record.part = part.name;
    record.validator = job.validator; // partSize stays -1: the part still grows
    m_setup.resumes->put(record);
    m_setup.resumes->save();
}
