#pragma once

// The game files of one run, fetched up to N at a time over the one transfer
// layer, while what the player sees keeps manifest order: the texts and the
// percentage always follow the earliest unfinished entry, so the sequence of
// texts is the one a one-at-a-time walk would show. A single file (the
// manifest, its signature, one download of a tool) is a queue of one: the
// same transfers, checks and log, without the walk's texts.

#include "ManifestEntry.h"
#include "Transfer.h"
#include "UpdateView.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class BodyWriter;
class GameDir;
class Inet;
class ResumeIndex;
struct ResumeRecord;
class PartSink;
class StagedFiles;
class Progress;
class QTimer;

class FileQueue : public QObject
{
    Q_OBJECT

public:
    struct Setup
    {
        const GameDir* root = nullptr; // the game folder
        StagedFiles* staged = nullptr; // where the walk's files go
        QString baseUrl;
        int connections = 4;
        std::int32_t pendingTotal = 0;
        // Told how each transfer ended, for the run log.
        std::function<void(const QString&)> log;
        // Interrupted downloads to continue, and where to record new ones.
        ResumeIndex* resumes = nullptr;
        // Positions of entries fetched again although their versions are
        // equal: the player's copy is missing or damaged.
        QSet<qsizetype> mend = {};
        // Writes large bodies off this thread; without one they are written here.
        BodyWriter* writer = nullptr;
        // Runs `work` off the GUI thread, then `then` back on it (unless the
        // run ended meanwhile); `stop` tells `work` to give up. Without it,
        // such work runs in place.
        std::function<void(std::function<void()> work, std::function<void()> then)> offThread = {};
        std::function<bool()> stop = {};
    };

    FileQueue(Inet& inet, UpdateView& view, Setup setup, QObject* parent = nullptr);
    ~FileQueue() override;

    // Starts the walk of `remote` (paired with `local`); finished() follows
    // once every entry is done.
    void start(const QVector<ManifestEntry>& remote, const QVector<ManifestEntry>& local);
    // Starts one file, base address + `remoteName`, into `sink`, which must
    // outlive the queue. At most `sizeLimit` bytes when that is not negative;
    // its progress shows only with `showProgress`. No retries.
    void startOne(const QString& remoteName, transfer::BodySink& sink, qint64 sizeLimit,
                  bool showProgress);

    // After finished(): every file that needed fetching arrived and none was
    // unsafe (a walk), or how the one file ended.
    bool complete() const;
    transfer::Outcome outcomeOfOne() const;
    // Files the walk has announced ("Downloading File N Of M").
    std::int32_t downloadCounter() const { return m_counter; }

    // Parts smaller than this start over rather than continue.
    static constexpr qint64 MinResumeBytes = 64 * 1024;
    // Downloads at least this large are recorded as soon as they start, so a
    // crash can be resumed from too.
    static constexpr qint64 RecordEarlyBytes = 1024 * 1024;

    // What a download of `entry` from `baseUrl` is recorded as for resuming
    // (target, address, size and hash; no part yet).
    static ResumeRecord resumeKey(const ManifestEntry& entry, const QString& baseUrl);

    // Stops every transfer; finished() is not emitted after it.
    void cancel();

    // The first failure text of the walk ("Failed To Download X!"...), if any.
    const QString& firstFailure() const { return m_firstFailure; }

signals:
    // Every entry is done; emitted once, never after cancel().
    void finished();

private:
    struct Job;

    void planProgress();
    void fillSlots();
    void startAttempt(std::size_t index);
    // Plans the smaller forms of a download (reading the player's file), then starts it.
    void planForms(std::size_t index);
    void replan(std::size_t index);
    void watch(std::size_t index);
    void finishOne(Job& job, const transfer::Transfer& done);
    void onProgress(std::size_t index, qint64 received, qint64 declared);
    void onFinished(std::size_t index);
    void finishJob(Job& job, bool ok, const QString& text);
    void logAttempt(const Job& job, const transfer::Transfer& done);
    void prepare(Job& job);
    void keepForResume(Job& job);
    void recordResume(const Job& job);
    void post(Job& job, StatusField field, const QString& text);
    void present();
    void introduce(Job& job);
    void show(StatusField field, const QString& text);

    Inet& m_inet;
    UpdateView& m_view;
    Setup m_setup;
    std::vector<Job> m_jobs;
    std::size_t m_cursor = 0; // earliest job not yet fully shown
    std::size_t m_next = 0;   // next job to consider starting
    int m_inFlight = 0;
    bool m_multiplexed = false; // the site answered over HTTP/2
    std::int32_t m_counter = 0;
    bool m_cancelled = false;
    bool m_presenting = false;
    bool m_ended = false;
    QString m_firstFailure;
};
