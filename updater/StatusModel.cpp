#include "StatusModel.h"

StatusModel::StatusModel(std::chrono::milliseconds frame, QObject* parent)
    : QObject(parent), m_frame(frame)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StatusModel::sendFrame);
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

void StatusModel::sendFrame()
{
    m_due = false;
    m_sinceFrame.start();
    emit frameReady();
}
