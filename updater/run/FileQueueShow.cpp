// What the player sees of the file queue: texts and percentages always
// follow the earliest unfinished entry, in manifest order.

#include "FileQueue.h"
#include "FileQueueJob.h"

#include "Manifest.h"
#include "UpdateView.h"

using namespace Qt::StringLiterals;

void FileQueue::post(Job& job, StatusField field, const QString& text)
{
    job.pending.emplace_back(field, text);
}

void FileQueue::present()
{
    if (m_presenting)
        return;
    m_presenting = true;
    while (!m_cancelled && m_cursor < m_jobs.size()) {
        Job& job = m_jobs[m_cursor];
        if (!job.introduced) {
            job.introduced = true;
            introduce(job);
        }
        // Showing a text may let the player quit, which clears the list.
        for (std::size_t i = 0; i < job.pending.size() && !m_cancelled; ++i)
            show(job.pending[i].first, job.pending[i].second);
        job.pending.clear();
        if (!job.done)
            break;
        ++m_cursor;
    }
    m_presenting = false;
    if (!m_cancelled && !m_ended && m_cursor == m_jobs.size()) {
        m_ended = true;
        emit finished();
    }
}

void FileQueue::introduce(Job& job)
{
    if (job.action == Job::Action::Single)
        return;
    show(StatusField::Detail, u"Checking Files..."_s);
    const auto counterText = [&]() -> QString {
        return "Downloading File "_L1 + QString::number(m_counter) + " Of "_L1 +
               QString::number(m_setup.pendingTotal);
    };
    switch (job.action) {
    case Job::Action::None:
    case Job::Action::Single:
        break;
    case Job::Action::Unsafe: {
        const QString text = "Skipped Unsafe File "_L1 + job.remote.FileName + u'!';
        if (m_firstFailure.isEmpty())
            m_firstFailure = text;
        show(StatusField::Detail, text);
        break;
    }
    case Job::Action::UpToDate:
        show(StatusField::Status, u"File Already Up To Date!"_s);
        break;
    case Job::Action::Download:
        ++m_counter;
        if (job.mending) {
            show(StatusField::Detail, counterText());
            show(StatusField::Status, "Repairing "_L1 + job.local.FileName + "..."_L1);
        } else if (!hasName(job.local)) {
            show(StatusField::Status, "Downloading "_L1 + job.remote.FileName + "..."_L1);
            show(StatusField::Detail, counterText());
        } else {
            show(StatusField::Detail, counterText());
            show(StatusField::Status, "Updating "_L1 + job.local.FileName + " From Version "_L1 +
                                          job.local.FileVersion + " To "_L1 +
                                          job.remote.FileVersion + "..."_L1);
        }
        break;
    }
}

void FileQueue::show(StatusField field, const QString& text)
{
    if (m_cancelled)
        return;
    switch (field) {
    case StatusField::Status:
        m_view.setStatus(text);
        break;
    case StatusField::Detail:
        m_view.setDetail(text);
        break;
    case StatusField::Version:
        m_view.setVersion(text);
        break;
    case StatusField::Progress:
        m_view.setProgress(text);
        break;
    }
}
