// Reads every entry key of a 10,000- and a 100,000-entry manifest through the
// profile engine and reports the cost per 1,000 reads and how it scales.

#include "ProfileFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray manifest(int entries)
{
    QByteArray out;
    out.reserve(qsizetype(entries) * 80 + 100);
    out += "[VERSION]\r\nVersion=1.0." + QByteArray::number(entries) +
           "\r\nGameFileName=Game.zgx\r\nMax=" + QByteArray::number(entries) + "\r\n[FILES]\r\n";
    for (int n = 1; n <= entries; ++n) {
        const QByteArray i = QByteArray::number(n);
        out += "FileName" + i + "=data" + i + ".pak\r\nFileVersion" + i + "=1." + i +
               "\r\nFilePath" + i + "=Data\\Pack" + QByteArray::number(n % 20) + "\r\n";
    }
    return out;
}

struct Run
{
    double coldMs = 0; // first read: parse included
    double allMs = 0;  // every entry key, parse included
    qsizetype reads = 0;
};

// Reads keys in the order the updater does: each entry's three keys in turn.
Run readAll(const QString& path, int entries, const std::vector<QByteArray>& keys)
{
    profile::ParseCache cache; // cold: a fresh one per run
    Run run;
    QElapsedTimer timer;
    timer.start();
    qsizetype found = 0;
    for (int n = 0; n < entries; ++n) {
        for (int k = 0; k < 3; ++k) {
            if (cache.readValue(path, "FILES", keys[size_t(n) * 3 + size_t(k)]))
                ++found;
            if (n == 0 && k == 0)
                run.coldMs = double(timer.nsecsElapsed()) / 1e6;
        }
    }
    run.allMs = double(timer.nsecsElapsed()) / 1e6;
    run.reads = found;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "Cannot create a temporary folder\n");
        return 2;
    }
    // The two sizes take turns, so that load from other programs falls on
    // both alike; medians of several rounds keep one slow round out.
    constexpr int rounds = 9;
    constexpr int sizes[] = {10000, 100000};
    struct Size
    {
        QString path;
        qsizetype bytes = 0;
        std::vector<QByteArray> keys;
        std::vector<double> times;
        double coldMs = 0;
    };
    Size runs[2];
    for (int s = 0; s < 2; ++s) {
        const int entries = sizes[s];
        runs[s].path = dir.filePath(u"info%1.ini"_s.arg(entries));
        QFile file(runs[s].path);
        const QByteArray bytes = manifest(entries);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "Cannot write %s\n", qPrintable(runs[s].path));
            return 2;
        }
        runs[s].bytes = bytes.size();
        runs[s].keys.reserve(size_t(entries) * 3);
        for (int n = 1; n <= entries; ++n) {
            const QByteArray i = QByteArray::number(n);
            runs[s].keys.push_back("FileName" + i);
            runs[s].keys.push_back("FileVersion" + i);
            runs[s].keys.push_back("FilePath" + i);
        }
    }
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        for (int s = 0; s < 2; ++s) {
            const Run run = readAll(runs[s].path, sizes[s], runs[s].keys);
            complete = complete && run.reads == qsizetype(sizes[s]) * 3;
            runs[s].times.push_back(run.allMs);
            runs[s].coldMs = std::max(runs[s].coldMs, run.coldMs);
        }
    }
    double medianMs[2] = {};
    for (int s = 0; s < 2; ++s) {
        std::vector<double>& times = runs[s].times;
        std::sort(times.begin(), times.end());
        medianMs[s] = times[times.size() / 2];
        std::printf("%6d entries (%7.1f KiB): %d reads, min %.1f ms, median %.1f ms, max %.1f ms;"
                    " %.3f ms per 1,000 reads; first read (parse) up to %.1f ms\n",
                    sizes[s], double(runs[s].bytes) / 1024, sizes[s] * 3, times.front(),
                    medianMs[s], times.back(), medianMs[s] / (sizes[s] * 3) * 1000, runs[s].coldMs);
    }
    const double ratio = medianMs[1] / medianMs[0];
    std::printf("100k/10k time ratio (medians of %d rounds): %.2f\n", rounds, ratio);
    const bool fast = medianMs[0] < 100;
    const bool linear = ratio <= 12;
    std::printf("target 10,000 entries, all 30,000 reads under 100 ms: %s (%.1f ms)\n",
                fast ? "met" : "missed", medianMs[0]);
    std::printf("target linear cost, ratio at most 12: %s (%.2f)\n", linear ? "met" : "missed",
                ratio);
    if (!complete) {
        std::printf("error: some entry keys did not read back\n");
        return 1;
    }
    return fast && linear ? 0 : 1;
}
