// The program's run on a thread of its own: the window hears every call on
// its own thread, in the run's order, and stopping ends a run under way
// without installing anything.

#include "QueuedView.h"
#include "RunThread.h"
#include "UpdaterTestKit.h"

#include <QThread>
#include <QtTest>

using namespace Qt::StringLiterals;
using kit::CannedResponse;
using kit::manifestText;

namespace {

// Records, beside every call, whether it came on the thread that made the view.
class ThreadCheckingView : public testsupport::RecordingView
{
public:
    void setStatus(const QString& text) override
    {
        note();
        RecordingView::setStatus(text);
    }
    void setDetail(const QString& text) override
    {
        note();
        RecordingView::setDetail(text);
    }
    void fileStarted(int index, qint64 offset) override
    {
        note();
        RecordingView::fileStarted(index, offset);
    }
    void fileDone(int index, bool ok) override
    {
        note();
        RecordingView::fileDone(index, ok);
    }
    int callsElsewhere = 0;

private:
    void note()
    {
        if (QThread::currentThread() != m_home)
            ++callsElsewhere;
    }
    QThread* m_home = QThread::currentThread();
};

// A game folder at version 1.0 whose site offers 1.1 of one file.
void prepare(kit::Site& site, const CannedResponse& body)
{
    site.configure();
    site.game.write(u"info.ini"_s,
                    manifestText(u"1.0"_s, {{u"game.dat"_s, u"1.0"_s, u"\\data\\"_s}}));
    site.game.write(u"data/game.dat"_s, kit::pattern(9000, 5));
    site.serve(u"info.ini"_s, manifestText(u"1.1"_s, {{u"game.dat"_s, u"1.1"_s, u"\\data\\"_s}}));
    site.serve(u"game.dat"_s, body);
}

} // namespace

class RunThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void runReportsOnTheViewsThreadInOrder();
    void stopEndsARunUnderWayWithNothingInstalled();
};

void RunThreadTest::runReportsOnTheViewsThreadInOrder()
{
    kit::Site site;
    const QByteArray body = kit::pattern(2500, 1);
    prepare(site, CannedResponse::ok(body));
    QObject receiver;
    ThreadCheckingView view;
    QThread* attachedOn = nullptr;
    RunThread::Setup setup;
    setup.gameFolder = site.game.path();
    setup.attach = [&](UpdateSession&) { attachedOn = QThread::currentThread(); };
    RunThread run(setup, receiver, view);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(view.current(StatusField::Status), u"Updated To Version 1.1!"_s,
                              int(kit::SiteLimit.count()));
    run.stop();
    QVERIFY(run.isFinished());
    QCOMPARE(attachedOn, QThread::currentThread());
    QCOMPARE(view.callsElsewhere, 0);
    // The order the run made its calls in, as a run on the window's own thread makes them.
    QCOMPARE(view.values(StatusField::Status),
             (QStringList{u"Getting News..."_s, u"Getting Information..."_s,
                          u"Checking File Versions..."_s, QString(),
                          u"Updating game.dat From Version 1.0 To 1.1..."_s,
                          u"Updated To Version 1.1!"_s}));
    QCOMPARE(view.progress.first(), u"plan=1/?"_s);
    QCOMPARE(view.progress.last(), u"end=ok"_s);
    QCOMPARE(site.game.read(u"data/game.dat"_s), body);
}

void RunThreadTest::stopEndsARunUnderWayWithNothingInstalled()
{
    kit::Site site;
    CannedResponse stalled = CannedResponse::ok(kit::pattern(200000, 1));
    stalled.stallAfter = 1000; // and never more
    prepare(site, stalled);
    const QByteArray installed = site.game.read(u"info.ini"_s);
    QObject receiver;
    ThreadCheckingView view;
    RunThread::Setup setup;
    setup.gameFolder = site.game.path();
    RunThread run(setup, receiver, view);
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(view.progress.contains(u"start=0@0"_s), int(kit::SiteLimit.count()));
    run.stop(); // a run that never ended would hold this up to the test's time-out
    QVERIFY(run.isFinished());
    QCOMPARE(site.game.read(u"data/game.dat"_s), kit::pattern(9000, 5));
    QCOMPARE(site.game.read(u"info.ini"_s), installed);
    QVERIFY(!view.progress.contains(u"install"_s));
}

QTEST_GUILESS_MAIN(RunThreadTest)
#include "tst_runthread.moc"
