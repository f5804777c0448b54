// The whole update's progress: bytes, totals, the bar, and a time left that
// bends but never jumps over a scripted transfer with a stall and a burst.

#include "UpdateProgress.h"

#include <QtTest>

#include <cmath>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

constexpr qint64 MiB = 1024 * 1024;

struct Meter
{
    milliseconds now{0};
    UpdateProgress progress{[this] { return now; }};
};

} // namespace

class UpdateProgressTest : public QObject
{
    Q_OBJECT

private slots:
    void scriptedTransferWithStallAndBurst();
    void accounting_data();
    void accounting();
    void wording();
};

void UpdateProgressTest::scriptedTransferWithStallAndBurst()
{
    // Four 8 MiB files one after another: 1 MiB/s for 10 s, nothing for
    // 25 s, 8 MiB/s for 1 s, then 1 MiB/s to the end. Sampled every 250 ms.
    Meter m;
    const qint64 fileSize = 8 * MiB;
    m.progress.filesPlanned(4, 4 * fileSize);
    const auto rateAt = [](milliseconds t) -> qint64 {
        if (t < 10s)
            return MiB;
        if (t < 35s)
            return 0;
        return t < 36s ? 8 * MiB : MiB;
    };
    qint64 sent = 0;
    int file = 0;
    m.progress.fileStarted(0, 0);
    std::optional<double> previous;
    bool shownBeforeStall = false, shownAfterBurst = false;
    while (sent < 4 * fileSize) {
        qint64 step = std::min(rateAt(m.now) / 4, 4 * fileSize - sent);
        m.now += 250ms;
        while (step > 0) {
            const qint64 part = std::min(step, fileSize * (file + 1) - sent);
            sent += part;
            step -= part;
            m.progress.fileProgressed(file, sent - fileSize * file);
            if (sent == fileSize * (file + 1)) {
                m.progress.fileDone(file, true);
                if (++file < 4)
                    m.progress.fileStarted(file, 0);
            }
        }
        m.progress.sample();
        QCOMPARE(m.progress.received(), sent);
        QCOMPARE(m.progress.permille(), int(sent * 1000 / (4 * fileSize)));
        const auto left = m.progress.timeLeft();
        const QString at = u"at %1 ms"_s.arg(m.now.count());
        QVERIFY2(m.now >= 2s || !left, qPrintable(at)); // nothing in the first two seconds
        if (m.now == 9750ms) {
            // Steady: close to the true 22 s.
            QVERIFY2(left && std::abs(left->count() - 22) <= 4, qPrintable(at));
            shownBeforeStall = true;
        }
        if (m.now == 35s)
            QVERIFY2(!left, qPrintable(at)); // a long stall: below the floor, no figure
        if (m.now > 36s && left)
            shownAfterBurst = true;
        if (left && previous) {
            // Between two samples a quarter second apart, never more than
            // 10 % and a second away from the figure before.
            const double d = double(left->count());
            QVERIFY2(d <= *previous * 1.10 + 1 && d >= *previous / 1.10 - 1,
                     qPrintable(at + u": %1 s after %2 s"_s.arg(d).arg(*previous)));
        }
        previous = left ? std::optional<double>(double(left->count())) : std::nullopt;
    }
    QVERIFY(shownBeforeStall && shownAfterBurst);
    QCOMPARE(m.progress.filesDone(), 4);
    QCOMPARE(m.progress.totalBytes(), 4 * fileSize);
}

void UpdateProgressTest::accounting_data()
{
    // Steps: "plan files total|?", "start i offset", "at i position", "replan i was now",
    // "done i", "wait ms" (then a sample), "install", "end ok|failed".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<int>("permille");
    QTest::addColumn<int>("speed"); // bytes per second; -1: none yet
    QTest::addColumn<QString>("pace");

    QTest::newRow("nothing started")
        << QStringList{u"plan 2 100"_s} << false << 0ll << 0 << -1 << QString();
    QTest::newRow("a retry starts over, the bar holds")
        << QStringList{u"plan 1 1000"_s, u"start 0 0"_s, u"at 0 600"_s, u"start 0 0"_s,
                       u"at 0 250"_s}
        << true << 250ll << 600 << -1 << QString();
    QTest::newRow("a smaller form sets the total")
        << QStringList{u"plan 2 2000"_s, u"start 0 0"_s, u"replan 0 1000 100"_s, u"at 0 100"_s}
        << true << 100ll << 90 << -1 << QString(); // 100 of 1,100
    QTest::newRow("a failed form's bytes stay counted")
        << QStringList{u"plan 1 1000"_s,       u"start 0 0"_s, u"replan 0 1000 100"_s, u"at 0 60"_s,
                       u"replan 0 100 1000"_s, u"start 0 0"_s, u"at 0 1000"_s}
        << true << 1060ll << 1000 << -1 << QString();
    QTest::newRow("after a failed form the bar holds")
        << QStringList{u"plan 1 1000"_s,       u"start 0 0"_s, u"replan 0 1000 100"_s, u"at 0 60"_s,
                       u"replan 0 100 1000"_s, u"start 0 0"_s, u"at 0 500"_s}
        << true << 560ll << 600 << -1 << QString();
    QTest::newRow("a resumed file counts, but not as speed")
        << QStringList{u"plan 1 10000"_s, u"start 0 6000"_s, u"at 0 6000"_s,
                       u"wait 1000"_s,    u"at 0 7000"_s,    u"wait 1000"_s}
        << true << 7000ll << 700 << 283 << u"283 bytes/s"_s; // 1,000 B/s averaged in
    QTest::newRow("without sizes the bar counts files")
        << QStringList{u"plan 4 ?"_s,  u"start 0 0"_s, u"at 0 4096"_s, u"done 0"_s,
                       u"start 1 0"_s, u"done 1"_s,    u"wait 3000"_s}
        << true << 4096ll << 500 << 1365 << u"1.3 KiB/s"_s;
    QTest::newRow("installing") << QStringList{u"plan 1 10"_s, u"start 0 0"_s, u"at 0 10"_s,
                                               u"done 0"_s, u"install"_s}
                                << true << 10ll << 1000 << -1 << u"Installing..."_s;
    QTest::newRow("done stays full")
        << QStringList{u"plan 2 ?"_s, u"start 0 0"_s, u"done 0"_s, u"install"_s, u"end ok"_s}
        << true << 0ll << 1000 << -1 << QString();
    QTest::newRow("failed hides") << QStringList{u"plan 1 9"_s, u"start 0 0"_s, u"end failed"_s}
                                  << false << 0ll << 0 << -1 << QString();
}

void UpdateProgressTest::accounting()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, visible);
    QFETCH(qint64, received);
    QFETCH(int, permille);
    QFETCH(int, speed);
    QFETCH(QString, pace);
    Meter m;
    for (const QString& step : steps) {
        const QStringList w = step.split(u' ');
        const auto n = [&](int i) { return w.value(i).toLongLong(); };
        if (w[0] == u"plan")
            m.progress.filesPlanned(int(n(1)),
                                    w[2] == u"?" ? std::nullopt : std::optional<qint64>(n(2)));
        else if (w[0] == u"start")
            m.progress.fileStarted(int(n(1)), n(2));
        else if (w[0] == u"at")
            m.progress.fileProgressed(int(n(1)), n(2));
        else if (w[0] == u"replan")
            m.progress.fileReplanned(int(n(1)), n(2), n(3));
        else if (w[0] == u"done")
            m.progress.fileDone(int(n(1)), true);
        else if (w[0] == u"install")
            m.progress.installStarted();
        else if (w[0] == u"end")
            m.progress.updateFinished(w[1] == u"ok");
        else if (w[0] == u"wait") {
            m.now += milliseconds(n(1));
            m.progress.sample();
        }
    }
    QCOMPARE(m.progress.visible(), visible);
    QCOMPARE(m.progress.received(), received);
    QCOMPARE(m.progress.permille(), permille);
    QCOMPARE(m.progress.bytesPerSecond() ? int(*m.progress.bytesPerSecond()) : -1, speed);
    QCOMPARE(describeProgress(m.progress, QLocale::c()).pace, pace);
    QVERIFY(!m.progress.timeLeft()); // never inside the first two seconds
}

void UpdateProgressTest::wording()
{
    const QLocale c = QLocale::c();
    QCOMPARE(formatTimeLeft(0s, c), u"1 s left"_s);
    QCOMPARE(formatTimeLeft(273s, c), u"4 min 30 s left"_s); // tens of seconds
    QCOMPARE(formatTimeLeft(298s, c), u"5 min left"_s);
    QCOMPARE(formatTimeLeft(3900s, c), u"1 h 5 min left"_s);
    Meter m;
    m.progress.filesPlanned(2, 48 * MiB);
    m.progress.fileStarted(0, qint64(12.3 * MiB)); // resumed: not part of the speed
    for (int i = 0; i < 12; ++i) {
        m.now += 250ms;
        m.progress.fileProgressed(0, qint64(12.3 * MiB) + (i + 1) * MiB / 8);
        m.progress.sample();
    }
    const ProgressLine german = describeProgress(m.progress, QLocale(QLocale::German));
    QCOMPARE(german.amount, u"13,8 MiB of 48,0 MiB"_s);
    QVERIFY2(german.pace.startsWith(u"512,0 KiB/s, "_s), qPrintable(german.pace));
    QVERIFY2(german.pace.endsWith(u" min 10 s left"_s), qPrintable(german.pace));
    QCOMPARE(german.joined(), german.amount + u", "_s + german.pace);
}

QTEST_GUILESS_MAIN(UpdateProgressTest)
#include "tst_updateprogress.moc"
