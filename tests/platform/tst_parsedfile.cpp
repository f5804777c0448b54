// Reading many values of one file from one parse.

#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

using Value = std::optional<QByteArray>;

} // namespace

Q_DECLARE_METATYPE(Value)

class TestParsedFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void agreesWithSingleReads_data();
    void agreesWithSingleReads();
    void keepsTheFileAsItWasRead();
    void missingOrUnreadable();
    void outlivesTheCache();

private:
    QString file(const QString& name = u"test.ini"_s) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    profile::ParseCache m_cache; // each test reads through its own
};

void TestParsedFile::init()
{
    QVERIFY(m_dir.isValid());
    for (const QString& name :
         QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        QVERIFY(QFile::remove(file(name)) || QDir(file(name)).removeRecursively());
    m_cache.clear();
}

void TestParsedFile::agreesWithSingleReads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<Value>("expected");

    const QByteArray manifest =
        "\xEF\xBB\xBF[VERSION]\r\nVersion = \"1.1\" \r\n; Max=9\r\nMax=3\r\n"
        "[files]\r\nFileName1=a b.dat\r\nfilename1=second\r\n"
        "FilePath1=\\data\\\r\nFileName2=\r\n[VERSION]\r\nMax=7\r\n";
    QTest::newRow("quoted and blank-padded") << manifest << "VERSION"_ba
                                             << "Version"_ba << Value("1.1");
    QTest::newRow("other letter case") << manifest << " version "_ba
                                       << "MAX"_ba << Value("3");
    QTest::newRow("first of a repeated key") << manifest << "FILES"_ba
                                             << "FileName1"_ba << Value("a b.dat");
    QTest::newRow("empty value") << manifest << "FILES"_ba
                                 << "FileName2"_ba << Value(""_ba);
    QTest::newRow("missing key") << manifest << "FILES"_ba
                                 << "FileName3"_ba << Value();
    QTest::newRow("missing section") << manifest << "OTHER"_ba
                                     << "Max"_ba << Value();
    QTest::newRow("empty names") << manifest << ""_ba
                                 << ""_ba << Value();
    QTest::newRow("CR-only lines") << "[S]\rk=v\rj=w\r"_ba
                                   << "S"_ba
                                   << "j"_ba << Value("w");
    QTest::newRow("binary") << QByteArray("[S]\n\0k=\xff\n", 9) << "S"_ba
                            << "\0k"_ba << Value("\xff");
}

void TestParsedFile::agreesWithSingleReads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(Value, expected);
    QVERIFY(writeAll(file(), bytes));
    const profile::ParsedFile parsed = m_cache.readFile(file());
    QVERIFY(parsed.isValid());
    QCOMPARE(parsed.value(section, key), expected);
    QCOMPARE(m_cache.readValue(file(), section, key), expected);
}

void TestParsedFile::keepsTheFileAsItWasRead()
{
    QVERIFY(writeAll(file(), "[S]\nk=one\n"));
    const profile::ParsedFile before = m_cache.readFile(file());
    QVERIFY(profile::writeValue(file(), "S", "k", "two").ok);
    QVERIFY(writeAll(file(u"other.ini"_s), "[S]\nk=other\n"));

    // The old parse still answers from the old file; a new one sees the change.
    QCOMPARE(before.value("S", "k"), Value("one"));
    QCOMPARE(m_cache.readFile(file()).value("S", "k"), Value("two"));
    QCOMPARE(m_cache.readValue(file(), "S", "k"), Value("two"));
    // Changed behind the cache's back, the same size.
    QVERIFY(writeAll(file(), "[S]\nk=six\n"));
    QCOMPARE(m_cache.readFile(file()).value("s", "K"), Value("six"));
}

void TestParsedFile::missingOrUnreadable()
{
    for (const QString& path : {file(u"missing.ini"_s), QString(), m_dir.path()}) {
        const profile::ParsedFile parsed = m_cache.readFile(path);
        QVERIFY2(!parsed.isValid(), qPrintable(path));
        QCOMPARE(parsed.value("S", "k"), std::nullopt);
    }
    QVERIFY(!profile::ParsedFile().isValid());
    QVERIFY(!QFile::exists(file(u"missing.ini"_s)));

    // A file that goes after being read reads as missing next time.
    QVERIFY(writeAll(file(), "[S]\nk=v\n"));
    QVERIFY(m_cache.readFile(file()).isValid());
    QVERIFY(QFile::remove(file()));
    QVERIFY(!m_cache.readFile(file()).isValid());
}

void TestParsedFile::outlivesTheCache()
{
    QVERIFY(writeAll(file(), "[S]\nk=kept\n"));
    const profile::ParsedFile parsed = m_cache.readFile(file());
    m_cache.clear();
    // Reading many other files pushes it out of the bounded cache too.
    for (int i = 0; i < 40; ++i) {
        const QString other = file(u"f%1.ini"_s.arg(i));
        QVERIFY(writeAll(other, "[S]\nk=" + QByteArray::number(i) + "\n"));
        QCOMPARE(m_cache.readFile(other).value("S", "k"), Value(QByteArray::number(i)));
    }
    const profile::ParsedFile copy = parsed;
    QCOMPARE(copy.value("S", "k"), Value("kept"));
    QCOMPARE(parsed.value("S", "k"), Value("kept"));
}

QTEST_GUILESS_MAIN(TestParsedFile)
#include "tst_parsedfile.moc"
