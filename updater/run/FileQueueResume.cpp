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
        job.resume = m_setup.resumes->take(key.target, key.url, key.size, key.hash);
}

// After an interruption: the bytes so far stay for a later try when they are
// worth it and the rest can be proven to belong to them (a validator from the
// server, or the manifest's size and hash).
void FileQueue::keepForResume(Job& job)
{
    const QByteArray& validator = job.validator;
    const bool provable = !validator.isEmpty() || (job.remote.FileSize && job.remote.FileHash);
    const bool clean = !validator.contains('\t') && !validator.contains('\n');
    const qint64 size = job.sink->part().file ? job.sink->part().file->size() : 0;
    if (!provable || !clean || size < MinResumeBytes)
        return;
    const auto kept = job.sink->keep();
    if (!kept)
        return;
    job.resume = ResumeRecord{job.target,
                              kept->folderPath,
                              kept->name,
                              job.url.toString(),
                              job.remote.FileSize.value_or(-1),
                              hexOf(job.remote.FileHash).toLatin1(),
                              validator};
}

void FileQueue::recordResume(const Job& job)
{
    if (!m_setup.resumes || !job.sink->part().file)
        return;
    const StagedFiles::Part& part = job.sink->part();
    m_setup.resumes->put({job.target, part.folderPath, part.name, job.url.toString(),
                          job.remote.FileSize.value_or(-1), hexOf(job.remote.FileHash).toLatin1(),
                          job.validator});
    m_setup.resumes->save();
}
