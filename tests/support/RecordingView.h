#pragma once

// An UpdateView that records every call in order, so tests can check whole
// status sequences. Entries are named after the window's controls: "L2=<text>"
// (status), "L3=<text>" (detail), "L4=<text>" (version), "Label4=<text>"
// (progress), "continue=on"/"continue=off" and "show".

#include "ManifestEntry.h"
#include "UpdateView.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace testsupport {

class RecordingView : public UpdateView
{
public:
    void showWindow(const QString&) override { add(QStringLiteral("show")); }
    void setStatus(const QString& text) override { add(QStringLiteral("L2=") + text); }
    void setDetail(const QString& text) override { add(QStringLiteral("L3=") + text); }
    void setVersion(const QString& text) override { add(QStringLiteral("L4=") + text); }
    void setProgress(const QString& text) override { add(QStringLiteral("Label4=") + text); }
    void setContinueEnabled(bool enabled) override
    {
        add(enabled ? QStringLiteral("continue=on") : QStringLiteral("continue=off"));
    }

    // The whole update's progress, kept apart from log(): "plan=<files>/<bytes
    // or ?>", "start=<index>@<offset>", "at=<index>:<position>",
    // "replan=<index>:<was>><now>", "done=<index>:ok|failed", "install", "end=ok|failed".
    void filesPlanned(int files, std::optional<qint64> totalBytes) override
    {
        progress.append(QStringLiteral("plan=%1/%2")
                            .arg(files)
                            .arg(totalBytes ? QString::number(*totalBytes) : QStringLiteral("?")));
    }
    void fileStarted(int index, qint64 offset) override
    {
        progress.append(QStringLiteral("start=%1@%2").arg(index).arg(offset));
    }
    void fileProgressed(int index, qint64 position) override
    {
        progress.append(QStringLiteral("at=%1:%2").arg(index).arg(position));
    }
    void fileReplanned(int index, qint64 was, qint64 now) override
    {
        progress.append(QStringLiteral("replan=%1:%2>%3").arg(index).arg(was).arg(now));
    }
    void fileDone(int index, bool ok) override
    {
        progress.append(QStringLiteral("done=%1:%2")
                            .arg(index)
                            .arg(ok ? QStringLiteral("ok") : QStringLiteral("failed")));
    }
    void installStarted() override { progress.append(QStringLiteral("install")); }
    void updateFinished(bool complete) override
    {
        progress.append(complete ? QStringLiteral("end=ok") : QStringLiteral("end=failed"));
    }
    QStringList progress;

    // Every call so far, in order.
    const QStringList& log() const { return m_log; }
    // The texts one field was given, in order.
    QStringList values(StatusField field) const;
    // What the field shows now (the last text given); empty when never set.
    QString current(StatusField field) const;
    // Whether the last call enabled continuing (false when never called).
    bool continueEnabled() const;
    void clear()
    {
        m_log.clear();
        progress.clear();
    }

    // Called after each call is recorded, e.g. to quit at a chosen point.
    std::function<void(const QString& entry)> onCall;

private:
    void add(const QString& entry)
    {
        m_log.append(entry);
        if (onCall)
            onCall(entry);
    }

    QStringList m_log;
};

// The text of a manifest ("[VERSION]" and "[FILES]" sections). `max` is
// written as given; empty writes the number of entries.
QByteArray manifestText(const QString& version, const QList<ManifestEntry>& entries,
                        const QString& max = QString(),
                        const QString& gameFileName = QStringLiteral("Game.zgx"));

} // namespace testsupport
