// The real Quorvane program (runQuorvane, the whole of its main) with a
// watcher on its window, for scripts/bench. Copy or hard-link this program
// into a game folder: like Quorvane it updates the folder it lies in.
//
// Prints, as wall-clock ns since the epoch (the script subtracts its launch
// time):
//   shown_ns=    the window's first expose
//   final_ns=    the frame that shows the run's final status has been
//                painted and flushed to the screen
//   final_text=  that status
//   peak_rss_kib= the process's own peak resident set (VmHWM) at that moment
//   peak_anon_kib= the peak of its anonymous resident memory (RssAnon, so
//                mapped file pages aside), sampled every 5 ms from launch
//                with --sample-anon, else its value at that moment
//   max_stall_ms= the GUI thread's longest stall from the window's first
//                expose to then: the most a 10 ms timer came late (0 with
//                --without-stall-probe: the probe's own wake-ups cost CPU)
// then ends the program, at once or after --hold-ms milliseconds idle (the
// idle window's CPU is the baseline of the stall benchmark). Exit status 0
// for "updated" and "up to date", 3 for a failed run.
//
// With --exit-at-install it instead closes the window (as EXIT does) 100 ms
// into the install step and prints exit_ns= at that moment, loop_end_ns= as
// the event loop ends and run_gone_ns= once the run is gone; the script times
// the program's end from the first.
//
// --trust-pem FILE trusts the certificate authorities in FILE besides the
// system's (the benchmarks' own test authority; the program has no such way).
//
// --without-progress-strip never draws the whole update's progress strip
// (its model still follows the run): the baseline of the strip's own cost.
//
// Usage: bench_window_quorvane [--hold-ms N | --exit-at-install] [--trust-pem FILE]
//                              [--without-progress-strip] [--sample-anon]
//                              [--without-stall-probe] [Qt options]

#include "Inet.h"
#include "QuorvaneProgram.h"
#include "StartupProbe.h"
#include "StatusModel.h"
#include "UpdateSession.h"
#include "frmUpdate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

long long peakRssKib()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The peak of RssAnon, sampled on a thread of its own so that a busy GUI
// thread cannot hide a peak; without sampling, only its value at the end.
class AnonPeak
{
public:
    void startSampling()
    {
        m_thread = std::thread([this] {
            while (!m_stop.load()) {
                sample();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~AnonPeak()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    long long peakKib()
    {
        sample();
        return m_peak.load();
    }

private:
    void sample()
    {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("RssAnon:", 0) == 0) {
                const long long kib = std::atoll(line.c_str() + 8);
                for (long long seen = m_peak.load(); kib > seen;)
                    m_peak.compare_exchange_weak(seen, kib);
                return;
            }
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_peak{0};
    std::thread m_thread;
};

bool isFinal(const QString& text)
{
    return (text.startsWith("Updated To Version "_L1) && text.endsWith(u'!')) ||
           text == "You Have The Latest Version!"_L1 ||
           text == "Update Incomplete, Please Try Again!"_L1 ||
           text == "Could Not Get Update Information!"_L1;
}

// The GUI thread's longest stall once the window is on screen: how late a
// 10 ms timer fires at worst. A thread that blocks on the disk or the network
// shows here as a frame the window could not paint.
class StallProbe : public QObject
{
public:
    explicit StallProbe(QWidget& window) : QObject(&window), m_window(window)
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(Interval);
        connect(&m_tick, &QTimer::timeout, this, &StallProbe::tick);
        m_tick.start();
    }

    double maxStallMs() const { return m_maxNs / 1e6; }

private:
    static constexpr int Interval = 10;

    void tick()
    {
        if (!m_clock.isValid()) {
            if (m_window.windowHandle() && m_window.windowHandle()->isExposed())
                m_clock.start();
            return;
        }
        const qint64 late = m_clock.nsecsElapsed() - qint64(Interval) * 1000000;
        m_clock.restart();
        m_maxNs = std::max(m_maxNs, late);
    }

    QWidget& m_window;
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_maxNs = 0;
};

// Waits for the run's final L2 text, then for the status label's own paint
// event showing it. Painting happens inside the window's backing-store sync,
// which flushes (composes the web views and swaps) before control returns to
// the event loop; a queued call after the paint therefore runs once the frame
// is on the screen. This times the program's own repaint path instead of
// forcing an extra one.
class FinalWatcher : public QObject
{
public:
    FinalWatcher(frmUpdate& window, int holdMs, AnonPeak& anon, bool probeStalls)
        : QObject(&window), m_stall(probeStalls ? new StallProbe(window) : nullptr), m_anon(anon),
          m_holdMs(holdMs)
    {
        m_label = window.findChild<QLabel*>(u"L2"_s);
        if (m_label)
            m_label->installEventFilter(this);
        connect(&window.statusModel(), &StatusModel::textSet, this,
                [this](StatusField field, const QString& text) {
                    if (field == StatusField::Status && isFinal(text))
                        m_final = text;
                });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_done && !m_final.isEmpty() &&
            m_label->text() == m_final) {
            m_done = true;
            QMetaObject::invokeMethod(this, &FinalWatcher::report, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void report()
    {
        std::printf("final_ns=%lld\nfinal_text=%s\npeak_rss_kib=%lld\nmax_stall_ms=%.1f\n"
                    "peak_anon_kib=%lld\n",
                    StartupProbe::nowNs(), m_final.toUtf8().constData(), peakRssKib(),
                    m_stall ? m_stall->maxStallMs() : 0.0, m_anon.peakKib());
        std::fflush(stdout);
        const int code =
            m_final.startsWith("Updated"_L1) || m_final.startsWith("You Have"_L1) ? 0 : 3;
        QTimer::singleShot(m_holdMs, QCoreApplication::instance(),
                           [code] { QCoreApplication::exit(code); });
    }

    QLabel* m_label = nullptr;
    StallProbe* m_stall; // a child of the window, or none
    AnonPeak& m_anon;
    QString m_final;
    int m_holdMs;
    bool m_done = false;
};

} // namespace

int main(int argc, char* argv[])
{
    AnonPeak anon;
    int holdMs = 0;
    bool exitAtInstall = false;
    bool withoutStrip = false;
    bool withoutStallProbe = false;
    bool sampleAnon = false;
    QByteArray trusted;
    const std::pair<const char*, bool*> flags[] = {
        {"--exit-at-install", &exitAtInstall},
        {"--without-progress-strip", &withoutStrip},
        {"--sample-anon", &sampleAnon},
        {"--without-stall-probe", &withoutStallProbe},
    };
    std::vector<char*> args(argv, argv + argc);
    while (args.size() >= 2) {
        const auto flag = std::find_if(std::begin(flags), std::end(flags), [&](const auto& f) {
            return std::strcmp(args[1], f.first) == 0;
        });
        if (flag != std::end(flags)) {
            *flag->second = true;
            args.erase(args.begin() + 1);
            continue;
        }
        if (args.size() < 3)
            break;
        if (std::strcmp(args[1], "--hold-ms") == 0) {
            holdMs = std::stoi(args[2]);
        } else if (std::strcmp(args[1], "--trust-pem") == 0) {
            QFile pem(QString::fromLocal8Bit(args[2]));
            if (!pem.open(QIODevice::ReadOnly))
                return 2;
            trusted = pem.readAll();
        } else {
            break;
        }
        args.erase(args.begin() + 1, args.begin() + 3);
    }
    if (sampleAnon)
        anon.startSampling();
    int count = int(args.size());
    args.push_back(nullptr);
    return runQuorvane(
        count, args.data(),
        [=, &anon](frmUpdate& window, UpdateSession& run) {
            new StartupProbe(window, StartupProbe::Then::Continue);
            if (withoutStrip) {
                if (auto* strip = window.findChild<QWidget*>(u"UpdateProgress"_s))
                    strip->setUpdatesEnabled(false);
            }
            if (!exitAtInstall) {
                new FinalWatcher(window, holdMs, anon, !withoutStallProbe);
                return;
            }
            // Where the time to the program's end goes: the event loop's end, the
            // run's end (its disk thread included), then the rest of the exit.
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                             [] { std::printf("loop_end_ns=%lld\n", StartupProbe::nowNs()); });
            QObject::connect(&run, &QObject::destroyed, [] {
                std::printf("run_gone_ns=%lld\n", StartupProbe::nowNs());
                std::fflush(stdout);
            });
            QObject::connect(&run, &UpdateSession::stepStarted, &window, [&window](auto step) {
                if (step != UpdateSession::Step::Install)
                    return;
                QTimer::singleShot(100, &window, [&window] {
                    std::printf("exit_ns=%lld\n", StartupProbe::nowNs());
                    std::fflush(stdout);
                    window.close(); // what EXIT does
                });
            });
        },
        [trusted](Inet& inet) { inet.trustExtraCertificates(trusted); });
}
