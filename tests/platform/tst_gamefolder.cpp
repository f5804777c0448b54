#include "GameFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestGameFolder : public QObject
{
    Q_OBJECT

private slots:
    void pathIsProgramFolder();
    void plainFileExists_data();
    void plainFileExists();
};

void TestGameFolder::pathIsProgramFolder()
{
    const QString folder = gamefolder::path();
    QVERIFY(!folder.endsWith(u'/'));
    QVERIFY(!folder.endsWith(u'\\'));
    QCOMPARE(
        QFileInfo(folder + u'/' + QFileInfo(QCoreApplication::applicationFilePath()).fileName())
            .canonicalFilePath(),
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

void TestGameFolder::plainFileExists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("plain-file") << u"info.ini"_s << true;
    QTest::newRow("hidden-file") << u".hidden.ini"_s << true;
    QTest::newRow("read-only-file") << u"readonly.ini"_s << true;
    QTest::newRow("empty-file") << u"empty.ini"_s << true;
    QTest::newRow("folder") << u"Skins"_s << false;
    QTest::newRow("missing") << u"temp.ini"_s << false;
    QTest::newRow("below-a-file") << u"info.ini/x"_s << false;
    QTest::newRow("link-to-file") << u"link.ini"_s << true;
    QTest::newRow("link-to-folder") << u"linkdir"_s << false;
    QTest::newRow("dangling-link") << u"dangling.ini"_s << false;
    QTest::newRow("empty-name") << QString() << false;
}

void TestGameFolder::plainFileExists()
{
    QFETCH(QString, name);
    QFETCH(bool, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto make = [&](const QString& file, const QByteArray& bytes) {
        QFile f(dir.filePath(file));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(make(u"info.ini"_s, "[VERSION]\r\n"));
    QVERIFY(make(u".hidden.ini"_s, "x"));
    QVERIFY(make(u"readonly.ini"_s, "x"));
    QVERIFY(QFile::setPermissions(dir.filePath(u"readonly.ini"_s), QFileDevice::ReadOwner));
    QVERIFY(make(u"empty.ini"_s, {}));
    QVERIFY(QDir(dir.path()).mkdir(u"Skins"_s));
#ifndef Q_OS_WIN
    QVERIFY(QFile::link(dir.filePath(u"info.ini"_s), dir.filePath(u"link.ini"_s)));
    QVERIFY(QFile::link(dir.filePath(u"Skins"_s), dir.filePath(u"linkdir"_s)));
    QVERIFY(QFile::link(dir.filePath(u"gone.ini"_s), dir.filePath(u"dangling.ini"_s)));
#else
    if (name.contains(u"link"_s))
        QSKIP("Symbolic links need privileges on Windows");
#endif
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    QCOMPARE(gamefolder::plainFileExists(path), expected);
}

QTEST_GUILESS_MAIN(TestGameFolder)
#include "tst_gamefolder.moc"
