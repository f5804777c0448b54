// The benchmark's window program: it must report the moment the window was
// shown and the painted final status for every way a run ends, or the window
// rows of scripts/bench measure nothing.

#include "ScratchFolder.h"
#include "TestHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using testsupport::CannedResponse;

namespace {

QByteArray manifest(const char* version)
{
    return QByteArray("[VERSION]\r\nVersion=") + version +
           "\r\nGameFileName=Game.zgx\r\nMax=1\r\n\r\n[FILES]\r\nFileName1=a.dat\r\n"
           "FileVersion1=" +
           version + "\r\nFilePath1=data\r\n";
}

} // namespace

class TestBenchWindow : public QObject
{
    Q_OBJECT
private slots:
    void reportsTheFinalStatus_data();
    void reportsTheFinalStatus();
};

void TestBenchWindow::reportsTheFinalStatus_data()
{
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<bool>("serve");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("updated") << manifest("1.0") << true << u"Updated To Version 2.0!"_s << 0;
    QTest::newRow("up to date") << manifest("2.0") << true << u"You Have The Latest Version!"_s
                                << 0;
    QTest::newRow("no manifest") << manifest("1.0") << false
                                 << u"Could Not Get Update Information!"_s << 3;
}

void TestBenchWindow::reportsTheFinalStatus()
{
    QFETCH(QByteArray, installed);
    QFETCH(bool, serve);
    QFETCH(QString, status);
    QFETCH(int, exitCode);

    testsupport::TestHttpServer server;
    QVERIFY(server.listen());
    if (serve) {
        server.setResponse(u"/info.ini"_s, CannedResponse::ok(manifest("2.0")));
        server.setResponse(u"/a.dat"_s, CannedResponse::ok("game data"));
    }
    testsupport::ScratchFolder game;
    QVERIFY(game.isValid());
    const QString program = game.file(u"Quorvane"_s);
    QVERIFY(QFile::copy(QStringLiteral(QV_BENCH_WINDOW), program));
    QVERIFY(game.write(u"info.ini"_s, installed));
    QVERIFY(
        game.write(u"Updater.ini"_s, "[UPDATER]\r\nWebSite=" + server.baseUrl().toUtf8() + "\r\n"));

    QProcess run;
    run.setProcessChannelMode(QProcess::SeparateChannels);
    QSignalSpy finished(&run, &QProcess::finished);
    run.start(program, {});
    QVERIFY(finished.wait(90000)); // serves the requests meanwhile
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), exitCode);

    QHash<QByteArray, QByteArray> report;
    for (const QByteArray& line : run.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            report.insert(line.left(eq), line.mid(eq + 1));
    }
    QCOMPARE(QString::fromUtf8(report.value("final_text")), status);
    const qint64 shown = report.value("shown_ns").toLongLong();
    const qint64 final = report.value("final_ns").toLongLong();
    QVERIFY(shown > 0);
    QVERIFY2(final >= shown, report.value("final_ns").constData());
    QVERIFY(report.value("peak_rss_kib").toLongLong() > 0);
    if (exitCode == 0 && installed == manifest("1.0"))
        QCOMPARE(game.read(u"data/a.dat"_s), QByteArray("game data"));
}

QTEST_GUILESS_MAIN(TestBenchWindow)
#include "tst_bench_window.moc"
