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
// then ends the program, at once or after --hold-ms milliseconds idle (the
// idle window's CPU is the baseline of the stall benchmark). Exit status 0
// for "updated" and "up to date", 3 for a failed run.
//
// --trust-pem FILE trusts the certificate authorities in FILE besides the
// system's (the benchmarks' own test authority; the program has no such way).
//
// Usage: bench_window_quorvane [--hold-ms N] [--trust-pem FILE] [Qt options]

#include "Inet.h"
#include "QuorvaneProgram.h"
#include "StartupProbe.h"
#include "StatusModel.h"
#include "frmUpdate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>
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

bool isFinal(const QString& text)
{
    return (text.startsWith("Updated To Version "_L1) && text.endsWith(u'!')) ||
           text == "You Have The Latest Version!"_L1 ||
           text == "Update Incomplete, Please Try Again!"_L1 ||
           text == "Could Not Get Update Information!"_L1;
}

// Waits for the run's final L2 text, then for the status label's own paint
// event showing it. Painting happens inside the window's backing-store sync,
// which flushes (composes the web views and swaps) before control returns to
// the event loop; a queued call after the paint therefore runs once the frame
// is on the screen. This times the program's own repaint path instead of
// forcing an extra one.
class FinalWatcher : public QObject
{
public:
    FinalWatcher(frmUpdate& window, int holdMs) : QObject(&window), m_holdMs(holdMs)
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
        std::printf("final_ns=%lld\nfinal_text=%s\npeak_rss_kib=%lld\n", StartupProbe::nowNs(),
                    m_final.toUtf8().constData(), peakRssKib());
        std::fflush(stdout);
        const int code =
            m_final.startsWith("Updated"_L1) || m_final.startsWith("You Have"_L1) ? 0 : 3;
        QTimer::singleShot(m_holdMs, QCoreApplication::instance(),
                           [code] { QCoreApplication::exit(code); });
    }

    QLabel* m_label = nullptr;
    QString m_final;
    int m_holdMs;
    bool m_done = false;
};

} // namespace

int main(int argc, char* argv[])
{
    int holdMs = 0;
    QByteArray trusted;
    std::vector<char*> args(argv, argv + argc);
    while (args.size() >= 3) {
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
    int count = int(args.size());
    args.push_back(nullptr);
    return runQuorvane(
        count, args.data(),
        [holdMs](frmUpdate& window, UpdateSession&) {
            new StartupProbe(window, StartupProbe::Then::Continue);
            new FinalWatcher(window, holdMs);
        },
        [trusted](Inet& inet) { inet.trustExtraCertificates(trusted); });
}
