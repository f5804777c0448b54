// The run's disk thread: tasks run away from the caller's thread, one after
// another in the order posted, and each continuation comes back to the
// caller's thread; a worker that goes finishes what it was given first.

#include "DiskWorker.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

class DiskWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void tasksRunInOrderOffTheCallersThread();
    void goingWaitsForItsTasks();
};

void DiskWorkerTest::tasksRunInOrderOffTheCallersThread()
{
    DiskWorker worker;
    QThread* const caller = QThread::currentThread();
    QStringList worked;   // written by the disk thread only
    QStringList followed; // written by the caller's thread only
    bool workOffCaller = true;
    bool thenOnCaller = true;
    for (int n = 0; n < 5; ++n) {
        worker.post(
            [&, n] {
                workOffCaller = workOffCaller && QThread::currentThread() != caller;
                // The first task is the slowest: order must not depend on speed.
                std::this_thread::sleep_for(std::chrono::milliseconds(n == 0 ? 50 : 0));
                worked.append(QString::number(n));
            },
            [&, n] {
                thenOnCaller = thenOnCaller && QThread::currentThread() == caller;
                followed.append(QString::number(n));
            });
    }
    QVERIFY(worker.busy());
    QTRY_COMPARE_WITH_TIMEOUT(followed.size(), 5, 10000);
    QVERIFY(!worker.busy());
    const QStringList inOrder{u"0"_s, u"1"_s, u"2"_s, u"3"_s, u"4"_s};
    QCOMPARE(worked, inOrder);
    QCOMPARE(followed, inOrder);
    QVERIFY(workOffCaller);
    QVERIFY(thenOnCaller);
}

void DiskWorkerTest::goingWaitsForItsTasks()
{
    std::atomic<int> done{0};
    bool followed = false;
    {
        DiskWorker worker;
        for (int n = 0; n < 3; ++n)
            worker.post(
                [&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    ++done;
                },
                [&] { followed = true; });
        worker.requestStop();
        QVERIFY(worker.stopRequested());
        QVERIFY(worker.stopCheck()());
    }
    QCOMPARE(done.load(), 3);
    QCoreApplication::processEvents(); // nothing of a worker that is gone comes back
    QVERIFY(!followed);
}

QTEST_GUILESS_MAIN(DiskWorkerTest)
#include "tst_diskworker.moc"
