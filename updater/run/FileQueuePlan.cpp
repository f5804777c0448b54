// What the queue plans before and between attempts: the form each file is
// fetched in, and the whole update's bytes the progress counts.

#include "FileQueue.h"
#include "FileQueueJob.h"

#include "FormAttempts.h"
#include "UpdateView.h"

#include <QPointer>

#include <climits>

// The files to fetch and, when the manifest sizes every one, their bytes.
void FileQueue::planProgress()
{
    int files = 0;
    std::optional<qint64> total = 0;
    for (const Job& job : m_jobs) {
        if (job.action != Job::Action::Download)
            continue;
        ++files;
        if (total && job.remote.FileSize && *job.remote.FileSize <= LLONG_MAX - *total)
            *total += *job.remote.FileSize;
        else
            total.reset();
    }
    m_view.filesPlanned(files, total);
}

// The whole update's bytes count the form this attempt fetches.
void FileQueue::replan(std::size_t index)
{
    Job& job = m_jobs[index];
    if (!job.remote.FileSize)
        return;
    const qint64 was = job.plannedBytes < 0 ? *job.remote.FileSize : job.plannedBytes;
    const qint64 now =
        job.forms && !job.forms->onPlain() ? job.forms->current()->size : *job.remote.FileSize;
    if (now != was)
        m_view.fileReplanned(int(index), was, now);
    job.plannedBytes = now;
}

void FileQueue::planForms(std::size_t index)
{
    Job& job = m_jobs[index];
    job.formsPlanned = true;
    auto made = std::make_shared<std::unique_ptr<delta::FormAttempts>>();
    auto work = [made, root = m_setup.root, entry = job.remote, stop = m_setup.stop] {
        *made = std::make_unique<delta::FormAttempts>(*root, entry, stop);
    };
    auto then = [this, guard = QPointer<FileQueue>(this), made, index] {
        if (!guard || m_cancelled)
            return;
        m_jobs[index].forms = std::move(*made);
        startAttempt(index);
    };
    if (!m_setup.offThread || !delta::offersPatch(job.remote)) { // nothing to read
        work();
        then();
        return;
    }
    m_setup.offThread(std::move(work), std::move(then));
}
