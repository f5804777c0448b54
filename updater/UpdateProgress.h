#pragma once

// The whole update's progress as the window shows it: bytes and files so
// far, the speed as an exponential average, and a time left that follows the
// average without jumping about. The run feeds it (every call O(1), no clock
// read); the window samples it at its frame pace. The clock is passed in so
// tests can script time.

#include <QLocale>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <unordered_map>

class UpdateProgress
{
public:
    using Clock = std::function<std::chrono::milliseconds()>;
    enum class Phase
    {
        Idle, // no game file started yet
        Fetching,
        Installing, // every file arrived; syncing and renaming
        Done,
        Failed
    };

    // No time left before this much of the run has passed: the first
    // seconds' speed says little.
    static constexpr std::chrono::milliseconds WarmUp{2000};
    // The shortest stretch one speed sample covers.
    static constexpr std::chrono::milliseconds SampleSpacing{250};
    // Time constant of the speed average.
    static constexpr std::chrono::milliseconds Smoothing{3000};
    // Below this speed (bytes per second) no time left is given: a stall
    // would only give an absurd figure.
    static constexpr double SpeedFloor = 1024;
    // The time left may differ from its own count-down by at most this
    // factor per second of run time (and a second either way).
    static constexpr double MaxDriftPerSecond = 1.25;

    explicit UpdateProgress(Clock clock);

    void filesPlanned(int files, std::optional<qint64> totalBytes);
    void fileStarted(int index, qint64 offset);
    void fileProgressed(int index, qint64 position);
    void fileReplanned(int index, qint64 was, qint64 now);
    void fileDone(int index, bool ok);
    void installStarted();
    void updateFinished(bool complete);

    // Folds the bytes since the last sample into the speed average and the
    // time left; does nothing until SampleSpacing has passed.
    void sample();

    Phase phase() const { return m_phase; }
    // A game file has started and the run has not failed.
    bool visible() const { return m_begun && m_phase != Phase::Failed; }
    qint64 received() const { return m_received; }
    // Known when the manifest gave every planned file's size.
    std::optional<qint64> totalBytes() const { return m_total; }
    int files() const { return m_files; }
    int filesDone() const { return m_filesDone; }
    // How full the bar is, 0 to 1000: by bytes when the total is known,
    // otherwise by files. Never less than it was: a retry or another form
    // holds the bar until its bytes catch up.
    int permille() const;
    std::optional<double> bytesPerSecond() const { return m_speed; }
    std::optional<std::chrono::seconds> timeLeft() const;

private:
    void resetEstimates();
    int fullness() const; // as the counts stand

    Clock m_clock;
    Phase m_phase = Phase::Idle;
    bool m_begun = false;
    int m_files = 0;
    int m_filesDone = 0;
    std::optional<qint64> m_total;
    qint64 m_received = 0;
    qint64 m_sinceSample = 0;                    // bytes that arrived since the last sample
    std::unordered_map<int, qint64> m_positions; // files under way
    std::chrono::milliseconds m_start{0};
    std::chrono::milliseconds m_lastSample{0};
    std::optional<double> m_speed;
    std::optional<double> m_left; // seconds
    int m_shown = 0;              // the fullest the bar has been before the last change
};

// The line beside the bar, in two parts: what arrived ("12.3 MiB of
// 48.0 MiB") and how it goes ("2.1 MiB/s, 42 s left", "Installing...").
struct ProgressLine
{
    QString amount;
    QString pace;

    QString joined() const;
};

ProgressLine describeProgress(const UpdateProgress& progress, const QLocale& locale);

// "42 s left", "4 min 30 s left", "12 min left", "1 h 5 min left".
QString formatTimeLeft(std::chrono::seconds left, const QLocale& locale);
