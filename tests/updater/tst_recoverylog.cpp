#include "UpdaterTestKit.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What a start finds of an earlier run that went wrong reaches the run log
// with its cause, before anything else happens.
class TestRecoveryLog : public QObject
{
    Q_OBJECT

private slots:
    void refusedRecordsAreLogged_data();
    void refusedRecordsAreLogged();
};

void TestRecoveryLog::refusedRecordsAreLogged_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logged");

    QTest::newRow("journal, extra field")
        << u"Quorvane.journal"_s
        << QByteArray("quorvane-install-journal 1\n3\t.qvpart-aaaaaaaa\ta.dat\tx\n")
        << u"install journal refused, line 2: 4 fields where 3 belong"_s;
    QTest::newRow("journal, wrong header")
        << u"Quorvane.journal"_s << QByteArray("journal\n3\t.qvpart-aaaaaaaa\ta.dat\n")
        << u"install journal refused, line 1: not the header"_s;
    QTest::newRow("journal, part not beside its target")
        << u"Quorvane.journal"_s
        << QByteArray("quorvane-install-journal 1\n3\tsub/.qvpart-aaaaaaaa\ta.dat\n")
        << u"install journal ignored: sub/.qvpart-aaaaaaaa is not beside its target"_s;
}

void TestRecoveryLog::refusedRecordsAreLogged()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logged);

    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, kit::manifestText(u"1.0"_s, {}));
    site.game.write(u"a.dat"_s, "old");
    site.game.write(u".qvpart-aaaaaaaa"_s, "new");
    site.game.write(file, bytes);
    site.serve(u"info.ini"_s, kit::manifestText(u"1.0"_s, {}));

    site.run();
    QCOMPARE(site.view.current(StatusField::Status), u"You Have The Latest Version!"_s);
    const QString log = QString::fromUtf8(site.game.read(u"Quorvane.log"_s));
    QVERIFY2(log.contains(logged), qPrintable(log));
    // Nothing the refused record names was renamed.
    QCOMPARE(site.game.read(u"a.dat"_s), QByteArray("old"));
}

QTEST_GUILESS_MAIN(TestRecoveryLog)
#include "tst_recoverylog.moc"
