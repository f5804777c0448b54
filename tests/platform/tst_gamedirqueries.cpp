#include "GameDir.h"

#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// What the game folder's handle tells about the files in it, for every kind
// of entry a folder can hold.
class TestGameDirQueries : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void kinds_data();
    void kinds();
    void freeSpaceThroughHandle();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::optional<GameDir> m_root;
};

void TestGameDirQueries::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(m_dir->filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(u"seven.dat"_s, "1234567"));
    QVERIFY(write(u"empty.dat"_s, {}));
    QVERIFY(QDir(m_dir->path()).mkdir(u"folder"_s));
    QVERIFY(QFile::link(m_dir->filePath(u"seven.dat"_s), m_dir->filePath(u"link.dat"_s)));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath(u"pipe"_s)).constData(), 0600), 0);
    m_root = GameDir::openRoot(m_dir->path());
    QVERIFY(m_root);
}

void TestGameDirQueries::kinds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<GameDir::Kind>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<bool>("readable"); // open for reading, and synced

    const auto File = GameDir::Kind::File;
    QTest::newRow("file") << u"seven.dat"_s << File << 7LL << 7LL << true;
    QTest::newRow("empty file") << u"empty.dat"_s << File << 0LL << 0LL << true;
    QTest::newRow("file over the bound") << u"seven.dat"_s << File << 7LL << 6LL << false;
    QTest::newRow("folder") << u"folder"_s << GameDir::Kind::Folder << -1LL << 100LL << false;
    QTest::newRow("link to a file")
        << u"link.dat"_s << GameDir::Kind::Link << -1LL << 100LL << false;
    QTest::newRow("pipe, no writer") << u"pipe"_s << GameDir::Kind::Other << -1LL << 100LL << false;
    QTest::newRow("missing") << u"none.dat"_s << GameDir::Kind::Missing << -1LL << 100LL << false;
    QTest::newRow("climbing name") << u".."_s << GameDir::Kind::Other << -1LL << 100LL << false;
}

void TestGameDirQueries::kinds()
{
    QFETCH(QString, name);
    QFETCH(GameDir::Kind, kind);
    QFETCH(qint64, size);
    QFETCH(qint64, maxBytes);
    QFETCH(bool, readable);

    const GameDir::Stat stat = m_root->statOf(name);
    QCOMPARE(stat.kind, kind);
    QCOMPARE(stat.size, size);
    QCOMPARE(m_root->sizeOf(name), size);
    QCOMPARE(m_root->exists(name), kind != GameDir::Kind::Missing);

    Result why;
    const std::unique_ptr<QFile> file = m_root->openForReading(name, maxBytes, &why);
    QCOMPARE(file != nullptr, readable);
    QCOMPARE(why.ok, readable);
    if (file)
        QCOMPARE(file->readAll(), QByteArray("1234567").first(size));
    else
        QVERIFY2(why.reason.contains(name), qPrintable(why.reason));

    // A file that cannot be opened for reading (other than by size) cannot be synced.
    const bool syncable = kind == GameDir::Kind::File;
    const Result synced = m_root->syncFile(name);
    QCOMPARE(synced.ok, syncable);
    QCOMPARE(synced.reason.isEmpty(), syncable);
}

void TestGameDirQueries::freeSpaceThroughHandle()
{
    Result why;
    const std::optional<qint64> free = m_root->freeSpace(&why);
    QVERIFY2(free, qPrintable(why.reason));
    QVERIFY(why.ok);
    const QStorageInfo storage(m_dir->path());
    if (!storage.isValid())
        QSKIP("the mount table does not show this folder to compare with");
    // Others write meanwhile; within 64 MiB of what the mount table says.
    QVERIFY2(qAbs(*free - storage.bytesAvailable()) < 64LL * 1024 * 1024,
             qPrintable(u"%1 against %2"_s.arg(*free).arg(storage.bytesAvailable())));
}

QTEST_GUILESS_MAIN(TestGameDirQueries)
#include "tst_gamedirqueries.moc"
