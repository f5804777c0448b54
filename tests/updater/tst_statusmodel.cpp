// The window's status model: every text is announced, frames are paced.

#include "StatusModel.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class StatusModelTest : public QObject
{
    Q_OBJECT

private slots:
    void burstBecomesOneFrameWithTheLatestTexts();
    void steadyStreamIsPacedToTheFrame();
    void stalledFetchKeepsFramesComing();
};

void StatusModelTest::burstBecomesOneFrameWithTheLatestTexts()
{
    StatusModel model(33ms);
    QSignalSpy texts(&model, &StatusModel::textSet);
    QSignalSpy frames(&model, &StatusModel::frameReady);
    for (int n = 1; n <= 1000; ++n) {
        model.setDetail(u"Downloading File %1 Of 1000"_s.arg(n));
        model.setProgress(u"%1%"_s.arg(n % 101));
    }
    model.setContinueEnabled(true);
    QCOMPARE(texts.count(), 2000);
    QCOMPARE(texts.at(1998).at(1).toString(), u"Downloading File 1000 Of 1000"_s);
    QCOMPARE(frames.count(), 0); // nothing painted inside the burst
    QVERIFY(frames.wait(2000));
    QTest::qWait(100);
    QCOMPARE(frames.count(), 1);
    QCOMPARE(model.text(StatusField::Detail), u"Downloading File 1000 Of 1000"_s);
    QCOMPARE(model.text(StatusField::Progress), u"91%"_s);
    QVERIFY(model.continueEnabled());
}

void StatusModelTest::steadyStreamIsPacedToTheFrame()
{
    StatusModel model(50ms);
    QSignalSpy frames(&model, &StatusModel::frameReady);
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < 500) {
        model.setStatus(QString::number(++sent));
        QTest::qWait(2);
    }
    const qint64 elapsed = clock.elapsed();
    QTest::qWait(120);
    QVERIFY(sent > 50);
    // A slow machine paints less often, never more.
    QVERIFY2(frames.count() <= elapsed / 50 + 2, qPrintable(QString::number(frames.count())));
    QVERIFY(frames.count() >= 1);
    QCOMPARE(model.text(StatusField::Status), QString::number(sent));
}

void StatusModelTest::stalledFetchKeepsFramesComing()
{
    StatusModel model(10ms);
    QSignalSpy frames(&model, &StatusModel::frameReady);
    model.filesPlanned(1, 100);
    model.fileStarted(0, 0);
    model.fileProgressed(0, 40);
    QVERIFY(frames.wait(1000));
    QCOMPARE(model.updateProgress().permille(), 400);
    // Nothing arrives: frames still come, so the figures can show the stall,
    // but ever more rarely (after 1 s, 2 s, then 4 s).
    frames.clear();
    QTest::qWait(3600);
    QVERIFY2(frames.count() >= 1 && frames.count() <= 2,
             qPrintable(QString::number(frames.count())));
    // The end goes out at once, and then the frames stop.
    frames.clear();
    model.updateFinished(true);
    QCOMPARE(frames.count(), 1);
    QCOMPARE(model.updateProgress().permille(), 1000);
    QTest::qWait(700);
    QCOMPARE(frames.count(), 1);
}

QTEST_GUILESS_MAIN(StatusModelTest)
#include "tst_statusmodel.moc"
