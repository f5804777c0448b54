#include "StatusModel.h"

namespace {

std::chrono::milliseconds steadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

StatusModel::StatusModel(std::chrono::milliseconds frame, QObject* parent)
    : StatusModel(frame, steadyNow, parent)
{}

StatusModel::StatusModel(std::chrono::milliseconds frame, UpdateProgress::Clock clock,
                         QObject* parent)
    : QObject(parent), m_frame(frame), m_progress(std::move(clock))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StatusModel::sendFrame);
    m_heartbeat.setInterval(Heartbeat);
    connect(&m_heartbeat, &QTimer::timeout, this, &StatusModel::beat);
}

void StatusModel::beat()
{
    const qint64 received = m_progress.received();
    const std::chrono::milliseconds next =
        received == m_receivedAtBeat ? std::min<std::chrono::milliseconds>(
                                           m_heartbeat.intervalAsDuration() * 2, SlowestHeartbeat)
                                     : Heartbeat;
    m_receivedAtBeat = received;
    if (next != m_heartbeat.intervalAsDuration())
        m_heartbeat.setInterval(next);
    scheduleFrame();
}

void StatusModel::filesPlanned(int files, std::optional<qint64> totalBytes)
{
    m_progress.filesPlanned(files, totalBytes);
    scheduleFrame();
}

void StatusModel::fileStarted(int index, qint64 offset)
{
    m_progress.fileStarted(index, offset);
    if (!m_heartbeat.isActive() && m_progress.phase() == UpdateProgress::Phase::Fetching)
        m_heartbeat.start();
    scheduleFrame();
}

void StatusModel::fileProgressed(int index, qint64 position)
{
    m_progress.fileProgressed(index, position);
    scheduleFrame();
}

void StatusModel::fileReplanned(int index, qint64 was, qint64 now)
{
    m_progress.fileReplanned(index, was, now);
    scheduleFrame();
}

void StatusModel::fileDone(int index, bool ok)
{
    m_progress.fileDone(index, ok);
    scheduleFrame();
}

// The install step may hold the thread a while: its wording goes out now.
void StatusModel::installStarted()
{
    m_progress.installStarted();
    m_heartbeat.stop();
    frameNow();
}

void StatusModel::updateFinished(bool complete)
{
    m_progress.updateFinished(complete);
    m_heartbeat.stop();
    frameNow();
}

void StatusModel::showWindow(const QString& siteUrl)
{
    emit showRequested(siteUrl);
}

void StatusModel::setContinueEnabled(bool enabled)
{
    m_continue = enabled;
    scheduleFrame();
}

void StatusModel::set(StatusField field, const QString& text)
{
    m_texts[std::size_t(field)] = text;
    emit textSet(field, text);
    scheduleFrame();
}

void StatusModel::scheduleFrame()
{
    m_due = true;
    if (m_timer.isActive())
        return;
    const auto since =
        m_sinceFrame.isValid() ? std::chrono::milliseconds(m_sinceFrame.elapsed()) : m_frame;
    m_timer.start(since >= m_frame ? std::chrono::milliseconds(0) : m_frame - since);
}

void StatusModel::flush()
{
    if (m_due) {
        m_timer.stop();
        sendFrame();
    }
}

void StatusModel::frameNow()
{
    m_due = true;
    flush();
}

void StatusModel::sendFrame()
{
    m_due = false;
    m_progress.sample();
    m_sinceFrame.start();
    emit frameReady();
}
