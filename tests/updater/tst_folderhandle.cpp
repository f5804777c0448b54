#include "UpdaterTestKit.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// A run works through the handle it opened on the game folder, not through
// its path: a folder the path no longer leads to (as in a chroot whose mount
// table does not show it) is still checked for space and updated.
class TestFolderHandle : public QObject
{
    Q_OBJECT

private slots:
    void runAfterThePathLeadsElsewhere_data();
    void runAfterThePathLeadsElsewhere();
};

void TestFolderHandle::runAfterThePathLeadsElsewhere_data()
{
    QTest::addColumn<qint64>("size"); // FileSize of the one new file
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("requests");
    QTest::newRow("fits") << qint64(3000) << u"Updated To Version 2.0!"_s << 1;
    QTest::newRow("more than the disk holds")
        << (qint64(1) << 60) << u"Not Enough Disk Space!"_s << 0;
}

void TestFolderHandle::runAfterThePathLeadsElsewhere()
{
    QFETCH(qint64, size);
    QFETCH(QString, status);
    QFETCH(int, requests);
    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, kit::manifestText(u"1.0"_s, {}));
    site.serve(u"info.ini"_s, kit::manifestText(u"2.0"_s, {{u"a.dat"_s, u"2.0"_s, QString()}}) +
                                  "FileSize1=" + QByteArray::number(size) + "\r\n");
    site.serve(u"a.dat"_s, kit::pattern(3000));
    QTemporaryDir elsewhere;
    const QString moved = elsewhere.filePath(u"game"_s);

    QSignalSpy ended(site.session.get(), &UpdateSession::finished);
    site.session->UpdateRun();
    QVERIFY(QDir().rename(site.game.path(), moved));
    const bool finished = kit::Site::waitForEnd(ended);
    QVERIFY(QDir().rename(moved, site.game.path())); // for the scratch folder's removal
    QVERIFY(finished);
    QCOMPARE(site.view.current(StatusField::Status), status);
    QCOMPARE(site.requests(u"a.dat"_s), requests);
    QCOMPARE(site.game.read(u"a.dat"_s), requests ? kit::pattern(3000) : QByteArray());
}

QTEST_GUILESS_MAIN(TestFolderHandle)
#include "tst_folderhandle.moc"
