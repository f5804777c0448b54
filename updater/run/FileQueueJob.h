#pragma once

// One entry of the file queue: what it is to become and how far it got.
// Shared by the queue's two source files only.

#include "FileQueue.h"
#include "FormAttempts.h"
#include "PartSink.h"
#include "Progress.h"
#include "ResumeIndex.h"
#include "Transfer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct FileQueue::Job
{
    enum class Action
    {
        None,     // nothing to fetch and nothing to say
        Download, // new or newer
        UpToDate,
        Unsafe,
        Single, // one file on its own, into a sink of the caller's
    };
    ManifestEntry remote;
    ManifestEntry local;
    Action action = Action::None;
    int attempts = 0;
    QString target; // folders and name, "/" between
    QUrl url;
    std::optional<ResumeRecord> resume;         // where an earlier attempt or run stopped
    QByteArray validator;                       // the server's, from the current attempt
    QElapsedTimer clock;                        // of the current attempt
    std::unique_ptr<delta::FormAttempts> forms; // smaller forms to try before the plain file
    bool formsPlanned = false;                  // asked for once; none when none applies
    qint64 plannedBytes = -1;                   // what the progress counts for it; -1: FileSize
    bool mending = false;                       // fetched again though its version is current
    std::unique_ptr<PartSink> sink;
    transfer::BodySink* single = nullptr; // a Single's sink
    qint64 sizeLimit = -1;                // a Single's cap
    bool showProgress = true;
    transfer::Outcome outcome = transfer::Outcome::Running;
    std::unique_ptr<transfer::Transfer> transfer;
    std::unique_ptr<QTimer> retry;
    std::optional<Progress> progress;
    std::vector<std::pair<StatusField, QString>> pending; // texts not yet shown
    bool introduced = false;
    bool done = false;
    bool ok = true;
};
