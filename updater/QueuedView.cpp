#include "QueuedView.h"

#include <QMetaObject>

template <typename Call> void QueuedView::post(Call call)
{
    // Posted to the receiver, the call dies with it: no view is reached after.
    QMetaObject::invokeMethod(
        m_receiver, [view = &m_view, call = std::move(call)] { call(*view); },
        Qt::QueuedConnection);
}

void QueuedView::showWindow(const QString& siteUrl)
{
    post([siteUrl](UpdateView& view) { view.showWindow(siteUrl); });
}

void QueuedView::setStatus(const QString& text)
{
    post([text](UpdateView& view) { view.setStatus(text); });
}

void QueuedView::setDetail(const QString& text)
{
    post([text](UpdateView& view) { view.setDetail(text); });
}

void QueuedView::setVersion(const QString& text)
{
    post([text](UpdateView& view) { view.setVersion(text); });
}

void QueuedView::setProgress(const QString& text)
{
    post([text](UpdateView& view) { view.setProgress(text); });
}

void QueuedView::setContinueEnabled(bool enabled)
{
    post([enabled](UpdateView& view) { view.setContinueEnabled(enabled); });
}

void QueuedView::filesPlanned(int files, std::optional<qint64> totalBytes)
{
    post([=](UpdateView& view) { view.filesPlanned(files, totalBytes); });
}

void QueuedView::fileStarted(int index, qint64 offset)
{
    post([=](UpdateView& view) { view.fileStarted(index, offset); });
}

void QueuedView::fileProgressed(int index, qint64 position)
{
    post([=](UpdateView& view) { view.fileProgressed(index, position); });
}

void QueuedView::fileReplanned(int index, qint64 was, qint64 now)
{
    post([=](UpdateView& view) { view.fileReplanned(index, was, now); });
}

void QueuedView::fileDone(int index, bool ok)
{
    post([=](UpdateView& view) { view.fileDone(index, ok); });
}

void QueuedView::installStarted()
{
    post([](UpdateView& view) { view.installStarted(); });
}

void QueuedView::updateFinished(bool complete)
{
    post([complete](UpdateView& view) { view.updateFinished(complete); });
}
