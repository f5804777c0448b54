// Batch syncing reports exactly what it could not make durable and leaves
// the data as written.

#include "FileSync.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileSync : public QObject
{
    Q_OBJECT

private slots:
    void filesSyncedOrReported();
    void foldersSyncedOrReported();
};

void TestFileSync::filesSyncedOrReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        QFile f(dir.filePath(u"f%1.dat"_s.arg(i)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(QByteArray(5000 + i, char('a' + i))), 5000 + i);
        f.close();
        paths.append(f.fileName());
    }
    // Windows flushes only through a handle that may write.
    QVERIFY(QFile::setPermissions(paths.at(1), QFileDevice::ReadOwner));
    const QString missing = dir.filePath(u"missing.dat"_s);
    QCOMPARE(filesync::syncFiles(paths), QStringList());
    QCOMPARE(filesync::syncFiles({paths.at(0), missing, paths.at(2)}), QStringList{missing});
    QCOMPARE(filesync::syncFiles({}), QStringList());
    // Told to stop, it leaves the rest and counts every file as not synced.
    QCOMPARE(filesync::syncFiles(paths, [] { return true; }), paths);
    QCOMPARE(filesync::syncFiles(paths, [] { return false; }), QStringList());
    for (int i = 0; i < 3; ++i) {
        QFile f(paths.at(i));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(5000 + i, char('a' + i)));
    }
    QVERIFY(!QFile::exists(missing));
}

void TestFileSync::foldersSyncedOrReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(u"a/b"_s));
    const QString missing = dir.filePath(u"gone"_s);
    const QStringList folders{dir.path(), dir.filePath(u"a/b"_s)};
    QCOMPARE(filesync::syncFolders(folders), QStringList());
#ifdef Q_OS_WIN
    QCOMPARE(filesync::syncFolders({missing}), QStringList()); // nothing to do there
#else
    QCOMPARE(filesync::syncFolders(folders + QStringList{missing}), QStringList{missing});
#endif
    QVERIFY(!QFile::exists(missing));
}

QTEST_GUILESS_MAIN(TestFileSync)
#include "tst_filesync.moc"
