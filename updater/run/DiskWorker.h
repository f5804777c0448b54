#pragma once

// The run's disk work (syncs, the install journal, renames, part files, the
// log) off the GUI thread: tasks run one after another on a thread of their
// own, in the order they were posted, and each one's continuation runs on the
// owner's thread once it is done. A slow disk never stops the window painting.

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <functional>

class DiskWorker : public QObject
{
    Q_OBJECT

public:
    explicit DiskWorker(QObject* parent = nullptr);
    // Waits for the tasks posted so far; their continuations are dropped.
    ~DiskWorker() override;

    // Runs `work` on the disk thread, then `then` on this object's thread.
    void post(std::function<void()> work, std::function<void()> then);

    // Tasks whose continuation has not run yet.
    bool busy() const { return m_pending > 0; }

    // Asks long tasks to stop at their next safe point; see stopRequested.
    void requestStop() { m_stop = true; }
    // For tasks, on any thread.
    bool stopRequested() const { return m_stop.load(); }
    const std::atomic<bool>& stopFlag() const { return m_stop; }
    std::function<bool()> stopCheck() const
    {
        return [this] { return m_stop.load(); };
    }

    // Blocks until every task posted so far has run (their continuations
    // still come through the event loop).
    void waitForTasks() { m_pool.waitForDone(); }

private:
    QThreadPool m_pool;
    std::atomic<bool> m_stop{false};
    int m_pending = 0;
};
