#pragma once

#include "UpdateView.h"

#include <QObject>

// An UpdateView for a run on another thread: every call is queued to the
// thread of `receiver` (the object that owns `view`) and made there, in the
// order the run made it. Calls made after the receiver is gone are dropped.
class QueuedView final : public UpdateView
{
public:
    QueuedView(QObject& receiver, UpdateView& view) : m_receiver(&receiver), m_view(view) {}

    void showWindow(const QString& siteUrl) override;
    void setStatus(const QString& text) override;
    void setDetail(const QString& text) override;
    void setVersion(const QString& text) override;
    void setProgress(const QString& text) override;
    void setContinueEnabled(bool enabled) override;

    void filesPlanned(int files, std::optional<qint64> totalBytes) override;
    void fileStarted(int index, qint64 offset) override;
    void fileProgressed(int index, qint64 position) override;
    void fileReplanned(int index, qint64 was, qint64 now) override;
    void fileDone(int index, bool ok) override;
    void installStarted() override;
    void updateFinished(bool complete) override;

private:
    template <typename Call> void post(Call call);

    QObject* m_receiver; // lives on the view's thread; outlives every call posted to it
    UpdateView& m_view;
};
