#include "ProfileFile.h"
#include "ProfileSyntax.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

using Lines = QList<QByteArray>;

QByteArray join(const Lines& lines, QByteArrayView eol, bool finalEol = true)
{
    QByteArray out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (finalEol || i + 1 < lines.size())
            out += eol;
    }
    return out;
}

struct Write
{
    QByteArray section;
    QByteArray key;
    QByteArray value;
};
using Writes = QList<Write>;

// One expected read: nullopt means "not present".
struct Expect
{
    QByteArray section;
    QByteArray key;
    std::optional<QByteArray> value;
};
using Expects = QList<Expect>;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

Q_DECLARE_METATYPE(Writes)
Q_DECLARE_METATYPE(QList<profile::Entry>)
Q_DECLARE_METATYPE(Expects)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

class TestProfileFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readExamples_data();
    void readExamples();

    void readOrder_data();
    void readOrder();

    void writeExamples_data();
    void writeExamples();

    void refusedEntries_data();
    void refusedEntries();

    void failedWriteChangesNothing_data();
    void failedWriteChangesNothing();

    void permissionsKept_data();
    void permissionsKept();

    void cacheSeesOutsideChange_data();
    void cacheSeesOutsideChange();

    void specialFileInPlace();
    void cacheFollowsOwnWrites();
    void writeStartsFromCurrentFile();
    void writeThroughSymbolicLink();
    void readingNeverCreates();
    void textConveniences();
    void writeReadBackAgreesWithGrammar_data();
    void writeReadBackAgreesWithGrammar();
    void textWritesAllOrNothingInTheFilesEncoding_data();
    void textWritesAllOrNothingInTheFilesEncoding();

private:
    QString file(const QString& name = u"test.ini"_s) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestProfileFile::init()
{
    QVERIFY(m_dir.isValid());
    // Each test starts from an empty folder and a cold cache.
    for (const QString& name :
         QDir(m_dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden))
        QVERIFY(QFile::remove(m_dir.filePath(name)));
    profile::clearCache();
}

// Every read example, under each line-end style and with a UTF-8 BOM.
void TestProfileFile::readExamples_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Expects>("expects");

    struct Example
    {
        const char* name;
        Lines lines;
        Expects expects;
    };
    const QList<Example> examples = {
        {"first-section",
         {"[section1]", "name1=val1", "name2=\"val2\"", "name3", "name4=a", "[section2]"},
         {{"section1", "NaMe1", "val1"},
          {"section1", "name2", "val2"},
          {"section1", "name3", std::nullopt},
          {"SECTION1", "name4", "a"},
          {"section2", "name1", std::nullopt}}},
        {"blanks",
         {"\t[ x ]", " k\t=\tv\t"},
         {{"x", "k", "v"}, {" x ", "k", "v"}, {"x", "\tk\v", "v"}}},
        {"vt-ff-blanks", {"[\vS\f]", "\fk\v=\v v\f"}, {{"s", "K", "v"}}},
        {"comments",
         {"[S]", " ;k=v", "#h=1", "n=;x"},
         {{"S", "k", std::nullopt}, {"S", ";k", std::nullopt}, {"S", "#h", "1"}, {"S", "n", ";x"}}},
        {"header-text-after-bracket", {"[sec]whoops]", "k=v"}, {{"sec", "k", "v"}}},
        {"header-with-entry-text", {"[S]k=v"}, {{"S", "k", std::nullopt}}},
        {"header-without-bracket", {"[S  ", "k=v"}, {{"S", "k", "v"}}},
        {"not-a-header", {"S]", "k=v"}, {{"S", "k", std::nullopt}, {"S]", "k", std::nullopt}}},
        {"first-key-wins", {"[S]", "k=1", "k=2"}, {{"S", "k", "1"}}},
        {"repeated-section-ignored",
         {"[S]", "[S]", "k=v", "[T]", "a=1", "[s]", "a=2"},
         {{"S", "k", std::nullopt}, {"T", "a", "1"}, {"S", "a", std::nullopt}}},
        {"before-first-header",
         {"k=v", "[S]"},
         {{"S", "k", std::nullopt}, {"", "k", std::nullopt}}},
        {"quotes",
         {"[Q]", "a= \" v \" ", "b=\"v'", "c=\"hello\" world", "d='x'", "e=\"", "f=\"\"",
          "\"g\"=1"},
         {{"Q", "a", " v "},
          {"Q", "b", "\"v'"},
          {"Q", "c", "\"hello\" world"},
          {"Q", "d", "x"},
          {"Q", "e", "\""},
          {"Q", "f", ""},
          {"Q", "\"g\"", "1"},
          {"Q", "g", std::nullopt}}},
        {"value-keeps-case-and-equals",
         {"[S]", "Key = A=b;C ", "empty="},
         {{"s", "KEY", "A=b;C"}, {"S", "empty", ""}}},
        {"latin1-bytes", {"[S]", "k=caf\xe9"}, {{"S", "k", "caf\xe9"}}},
        {"non-ascii-names-match-exactly",
         {"[\xc3\xa9t\xc3\xa9]", "Cl\xc3\xa9=1"},
         {{"\xc3\xa9t\xc3\xa9", "cl\xc3\xa9", "1"},
          {"\xc3\x89T\xc3\x89", "Cl\xc3\xa9", std::nullopt}}},
        {"blank-lines-anywhere", {"", "[S]", "", "k=v", ""}, {{"S", "k", "v"}}},
        {"empty-names-never-match",
         {"[]", "=v", "k=1"},
         {{"", "", std::nullopt}, {" ", "k", std::nullopt}}},
    };
    const QList<std::pair<const char*, QByteArray>> styles = {
        {"crlf", "\r\n"}, {"lf", "\n"}, {"cr", "\r"}};
    for (const Example& ex : examples) {
        for (const auto& [style, eol] : styles) {
            QTest::addRow("%s/%s", ex.name, style) << join(ex.lines, eol) << ex.expects;
            QTest::addRow("%s/%s-no-final-eol", ex.name, style)
                << join(ex.lines, eol, false) << ex.expects;
        }
        QTest::addRow("%s/bom", ex.name)
            << QByteArray("\xEF\xBB\xBF" + join(ex.lines, "\r\n")) << ex.expects;
    }
    QTest::newRow("mixed-line-ends")
        << QByteArray("[S]\ra=1\nb=2\r\nc=3\r\r\nd=4")
        << Expects{{"S", "a", "1"}, {"S", "b", "2"}, {"S", "c", "3"}, {"S", "d", "4"}};
    QTest::newRow("bom-only-once") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nk=v\r\n")
                                   << Expects{{"S", "k", std::nullopt}};
    QTest::newRow("binary-garbage")
        << QByteArray::fromRawData("\0\xff[\0]\x01=\x02\n[S]\nk=\0v", 17)
        << Expects{{"S", "k", QByteArray("\0v", 2)}};
}

void TestProfileFile::readExamples()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Expects, expects);
    QVERIFY(writeAll(file(), bytes));
    for (const Expect& e : expects) {
        const std::optional<QByteArray> got = profile::readValue(file(), e.section, e.key);
        QCOMPARE(got, e.value);
    }
    QCOMPARE(readAll(file()), bytes);
}

// Lookups give the same answers whatever order they come in.
void TestProfileFile::readOrder_data()
{
    QTest::addColumn<QList<int>>("order");
    QList<int> forward;
    for (int i = 0; i < 12; ++i)
        forward << i;
    QList<int> backward(forward.rbegin(), forward.rend());
    QTest::newRow("file-order") << forward;
    QTest::newRow("reverse") << backward;
    QTest::newRow("interleaved") << QList<int>{0, 6, 1, 7, 2, 8, 3, 9, 4, 10, 5, 11};
    QTest::newRow("repeats") << QList<int>{0, 0, 1, 1, 6, 6, 7, 5, 11, 11, 4, 2};
}

void TestProfileFile::readOrder()
{
    QFETCH(QList<int>, order);
    // Sections A and B spell the same keys; B's second "k1" and the repeated
    // section A must never answer.
    QVERIFY(writeAll(file(), "[A]\nk0=a0\nk1=a1\nk2=a2\nk3=a3\nk4=a4\nk5=a5\n"
                             "[B]\nk0=b0\nk1=b1\nk1=bX\nk2=b2\nk3=b3\nk4=b4\nk5=b5\n"
                             "[A]\nk0=aX\nk6=aX\n"));
    for (int round = 0; round < 2; ++round) {
        for (const int i : order) {
            const char section = i < 6 ? 'A' : 'B';
            const QByteArray key = "K" + QByteArray::number(i % 6);
            const QByteArray expected =
                QByteArray(1, char(section + 32)) + QByteArray::number(i % 6);
            QCOMPARE(profile::readValue(file(), QByteArray(1, section), key),
                     std::optional(expected));
        }
        QCOMPARE(profile::readValue(file(), "A", "k6"), std::nullopt);
    }
}

// Bytes before + writes = bytes after. A null "before" is a missing file.
void TestProfileFile::writeExamples_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Writes>("writes");
    QTest::addColumn<QByteArray>("after");

    const QByteArray missing;

    QTest::newRow("three-sections-into-missing-file")
        << missing
        << Writes{{"App1", "key1", "string1"},
                  {"App1", "key2", "string2"},
                  {"App1", "key3", "string3"},
                  {"App2", "key4", "string4"},
                  {"App3", "key5", "string5"}}
        << join({"[App1]", "key1=string1", "key2=string2", "key3=string3", "[App2]", "key4=string4",
                 "[App3]", "key5=string5"},
                "\r\n");
    QTest::newRow("replace-last-line-without-eol")
        << QByteArray("[SectionName]\r\nTestKey=TestValue")
        << Writes{{"SECTIONNAME", "TESTKEY", "TestValue2"}}
        << QByteArray("[SectionName]\r\nTestKey=TestValue2\r\n");
    QTest::newRow("new-keys-after-last-entry")
        << join({";c0", "[S]", ";c1", "b=value", ";c2", "a=value"}, "\r\n")
        << Writes{{"S", "z", ""}, {"S", "y", ""}, {"S", "a", ""}, {"S", "b", ""}}
        << join({";c0", "[S]", ";c1", "b=", ";c2", "a=", "z=", "y="}, "\r\n");
    QTest::newRow("new-key-before-blank-line")
        << join({"[A]", "a=1", "", "[B]"}, "\r\n") << Writes{{"A", "b", "2"}}
        << join({"[A]", "a=1", "b=2", "", "[B]"}, "\r\n");
    QTest::newRow("trimmed-names-value-as-given")
        << missing << Writes{{" sec ", " key ", " v "}} << QByteArray("[sec]\r\nkey= v \r\n");
    QTest::newRow("empty-file-is-new")
        << QByteArray("") << Writes{{"S", "k", "v"}} << QByteArray("[S]\r\nk=v\r\n");
    QTest::newRow("bom-only-file") << QByteArray("\xEF\xBB\xBF") << Writes{{"S", "k", "v"}}
                                   << QByteArray("\xEF\xBB\xBF[S]\r\nk=v\r\n");

    // Golden round trips: untouched lines stay byte for byte.
    const Lines config = {"; game settings", "[CONFIG]", "  Server = old.example ",
                          "Port=\"1234\"",   "",         "; audio",
                          "Music=1",         "[Other]",  "x=y"};
    // Server and Music are replaced in place; Skin follows the last entry line,
    // so the blank line and "; audio" stay where they were.
    const Lines configAfter = {
        "; game settings", "[CONFIG]", "Server=new.example", "Port=\"1234\"", "",
        "; audio",         "Music=0",  "Skin=Blue",          "[Other]",       "x=y",
        "[New]",           "k=v"};
    const Writes configWrites = {{"config", "SERVER", "new.example"},
                                 {"CONFIG", "Skin", "Blue"},
                                 {"Config", "Music", "0"},
                                 {"New", "k", "v"}};
    QTest::newRow("golden-crlf") << join(config, "\r\n") << configWrites
                                 << join(configAfter, "\r\n");
    QTest::newRow("golden-lf") << join(config, "\n") << configWrites << join(configAfter, "\n");
    QTest::newRow("golden-cr") << join(config, "\r") << configWrites << join(configAfter, "\r");
    QTest::newRow("golden-bom") << QByteArray("\xEF\xBB\xBF" + join(config, "\r\n")) << configWrites
                                << QByteArray("\xEF\xBB\xBF" + join(configAfter, "\r\n"));
    QTest::newRow("golden-no-final-eol")
        << join(config, "\n", false) << configWrites << join(configAfter, "\n");
    QTest::newRow("golden-latin1-untouched")
        << join({"[S]", "name=Jos\xe9", "; r\xe9sum\xe9", "k=old", "[\xc4rger]", "a=\xff\xfe"},
                "\n")
        << Writes{{"S", "k", "new"}, {"S", "n", "\xc3\xa9"}}
        << join({"[S]", "name=Jos\xe9", "; r\xe9sum\xe9", "k=new", "n=\xc3\xa9", "[\xc4rger]",
                 "a=\xff\xfe"},
                "\n");
    QTest::newRow("mixed-line-ends-kept")
        << QByteArray("[S]\na=1\r\nb=2\rc=3") << Writes{{"S", "b", "x"}, {"S", "d", "4"}}
        << QByteArray("[S]\na=1\r\nb=x\rc=3\nd=4\n");
    QTest::newRow("line-end-style-from-first-eol")
        << QByteArray("[S]\r\na=1\nb=2\n") << Writes{{"T", "k", "v"}}
        << QByteArray("[S]\r\na=1\nb=2\n[T]\r\nk=v\r\n");
    QTest::newRow("file-without-eol-gets-crlf")
        << QByteArray("[S]") << Writes{{"S", "k", "v"}, {"T", "a", "b"}}
        << QByteArray("[S]\r\nk=v\r\n[T]\r\na=b\r\n");
    QTest::newRow("new-section-after-missing-final-eol")
        << QByteArray("[S]\nk=v") << Writes{{"T", "a", "b"}} << QByteArray("[S]\nk=v\n[T]\na=b\n");
    QTest::newRow("empty-section-key-after-header")
        << join({"[S]", "; note", "", "[T]"}, "\r\n") << Writes{{"S", "k", "v"}}
        << join({"[S]", "k=v", "; note", "", "[T]"}, "\r\n");
    QTest::newRow("only-first-section-written")
        << join({"[S]", "a=1", "[T]", "[S]", "k=old"}, "\n") << Writes{{"S", "k", "new"}}
        << join({"[S]", "a=1", "k=new", "[T]", "[S]", "k=old"}, "\n");
    QTest::newRow("key-spelling-and-indent")
        << join({"[S]", "\t MyKey \t= \"old\" ; x"}, "\n") << Writes{{"s", "mykey", " new "}}
        << join({"[S]", "MyKey= new "}, "\n");
    QTest::newRow("keys-before-header-untouched")
        << join({"k=top", "[S]"}, "\n") << Writes{{"S", "k", "v"}}
        << join({"k=top", "[S]", "k=v"}, "\n");
    QTest::newRow("comment-lookalike-not-replaced")
        << join({"[S]", ";k=c", "k"}, "\n") << Writes{{"S", "k", "v"}}
        << join({"[S]", "k=v", ";k=c", "k"}, "\n");
    QTest::newRow("header-tail-not-an-entry")
        << join({"[S]k=1"}, "\n") << Writes{{"S", "k", "2"}} << join({"[S]k=1", "k=2"}, "\n");
    QTest::newRow("value-with-quotes-and-semicolon")
        << missing << Writes{{"S", "k", "\"a;b\""}} << QByteArray("[S]\r\nk=\"a;b\"\r\n");
    QTest::newRow("same-value-rewritten")
        << join({"[S]", "k = v"}, "\r\n") << Writes{{"S", "k", "v"}}
        << join({"[S]", "k=v"}, "\r\n");
}

void TestProfileFile::writeExamples()
{
    QFETCH(QByteArray, before);
    QFETCH(Writes, writes);
    QFETCH(QByteArray, after);
    if (!before.isNull())
        QVERIFY(writeAll(file(), before));
    for (const Write& w : writes) {
        const profile::WriteResult r = profile::writeValue(file(), w.section, w.key, w.value);
        QVERIFY2(r.ok, qPrintable(r.reason));
        // Each write is visible at once, through the cache.
        const QByteArray expected =
            profile::syntax::unquoted(profile::syntax::trimmed(w.value)).toByteArray();
        QCOMPARE(profile::readValue(file(), w.section, w.key), std::optional(expected));
    }
    QCOMPARE(readAll(file()), after);
    // A cold parse of the result agrees with the cache.
    profile::clearCache();
    for (const Write& w : writes) {
        const QByteArray expected =
            profile::syntax::unquoted(profile::syntax::trimmed(w.value)).toByteArray();
        QCOMPARE(profile::readValue(file(), w.section, w.key), std::optional(expected));
    }
}

void TestProfileFile::refusedEntries_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("empty-section")
        << QByteArray("") << QByteArray("k") << QByteArray("v") << u"empty"_s;
    QTest::newRow("blank-section")
        << QByteArray(" \t") << QByteArray("k") << QByteArray("v") << u"empty"_s;
    QTest::newRow("empty-key") << QByteArray("S") << QByteArray("") << QByteArray("v")
                               << u"empty"_s;
    QTest::newRow("section-open-bracket")
        << QByteArray("a[b") << QByteArray("k") << QByteArray("v") << u"\"[\""_s;
    QTest::newRow("section-close-bracket")
        << QByteArray("a]b") << QByteArray("k") << QByteArray("v") << u"\"]\""_s;
    QTest::newRow("section-equals")
        << QByteArray("a=b") << QByteArray("k") << QByteArray("v") << u"\"=\""_s;
    QTest::newRow("key-equals") << QByteArray("S") << QByteArray("a=b") << QByteArray("v")
                                << u"\"=\""_s;
    QTest::newRow("key-bracket") << QByteArray("S") << QByteArray("[k") << QByteArray("v")
                                 << u"\"[\""_s;
    QTest::newRow("key-semicolon")
        << QByteArray("S") << QByteArray(" ;k") << QByteArray("v") << u"\";\""_s;
    QTest::newRow("section-semicolon")
        << QByteArray(";S") << QByteArray("k") << QByteArray("v") << u"\";\""_s;
    QTest::newRow("key-lf") << QByteArray("S") << QByteArray("a\nb") << QByteArray("v")
                            << u"line break"_s;
    QTest::newRow("section-cr") << QByteArray("S\r") << QByteArray("k") << QByteArray("v")
                                << u"line break"_s;
    QTest::newRow("value-lf") << QByteArray("S") << QByteArray("k") << QByteArray("a\nb")
                              << u"line break"_s;
    QTest::newRow("value-cr") << QByteArray("S") << QByteArray("k") << QByteArray("a\r")
                              << u"line break"_s;
}

void TestProfileFile::refusedEntries()
{
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QString, reasonPart);

    // Into a missing file: nothing is created.
    profile::WriteResult r = profile::writeValue(file(), section, key, value);
    QVERIFY(!r.ok);
    QVERIFY2(r.reason.contains(reasonPart), qPrintable(r.reason));
    QVERIFY(!QFileInfo::exists(file()));

    // Into an existing file: nothing changes.
    const QByteArray before = "[S]\r\nk=old\r\n";
    QVERIFY(writeAll(file(), before));
    r = profile::writeValue(file(), section, key, value);
    QVERIFY(!r.ok);
    QCOMPARE(readAll(file()), before);
}

void TestProfileFile::failedWriteChangesNothing_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("parent-is-a-file") << u"plain"_s << u"plain/test.ini"_s << u"Not a directory"_s;
    QTest::newRow("grandparent-is-a-file")
        << u"plain"_s << u"plain/sub/test.ini"_s << u"Not a directory"_s;
    QTest::newRow("missing-folder") << QString() << u"nowhere/test.ini"_s << u"Cannot"_s;
    QTest::newRow("target-is-a-folder") << QString() << u"folder"_s << u"regular file"_s;
}

void TestProfileFile::failedWriteChangesNothing()
{
    QFETCH(QString, blocker);
    QFETCH(QString, target);
    QFETCH(QString, reasonPart);

    const QByteArray blockerBytes = "[S]\r\nk=v\r\n";
    if (!blocker.isEmpty())
        QVERIFY(writeAll(file(blocker), blockerBytes));
    if (target == u"folder"_s)
        QVERIFY(QDir(m_dir.path()).mkpath(target));
    const QStringList entriesBefore = QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden);

    const profile::WriteResult r = profile::writeValue(file(target), "S", "k", "new");
    QVERIFY(!r.ok);
    QVERIFY2(r.reason.contains(reasonPart), qPrintable(r.reason));
    QVERIFY2(r.reason.contains(QDir::toNativeSeparators(file(target))), qPrintable(r.reason));

    QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden), entriesBefore);
    if (!blocker.isEmpty())
        QCOMPARE(readAll(file(blocker)), blockerBytes);
    QCOMPARE(profile::readValue(file(target), "S", "k"), std::nullopt);
}

void TestProfileFile::permissionsKept_data()
{
    QTest::addColumn<QFile::Permissions>("mode");
    using P = QFileDevice::Permission;
    QTest::newRow("0600") << (P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser);
    QTest::newRow("0640") << (P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser |
                              P::ReadGroup);
    QTest::newRow("0666") << (P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser |
                              P::ReadGroup | P::WriteGroup | P::ReadOther | P::WriteOther);
    QTest::newRow("0755") << (P::ReadOwner | P::WriteOwner | P::ExeOwner | P::ReadUser |
                              P::WriteUser | P::ExeUser | P::ReadGroup | P::ExeGroup |
                              P::ReadOther | P::ExeOther);
}

void TestProfileFile::permissionsKept()
{
    QFETCH(QFile::Permissions, mode);
#ifdef Q_OS_WIN
    QSKIP("Windows has no mode bits beyond read-only");
#endif
    QVERIFY(writeAll(file(), "[S]\nk=v\n"));
    QVERIFY(QFile::setPermissions(file(), mode));
    QVERIFY(profile::writeValue(file(), "S", "k", "w").ok);
    QVERIFY(profile::writeValue(file(), "T", "k", "w").ok);
    QCOMPARE(QFileInfo(file()).permissions(), mode);
    QCOMPARE(readAll(file()), QByteArray("[S]\nk=w\n[T]\nk=w\n"));
}

void TestProfileFile::cacheSeesOutsideChange_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("changed");
    QTest::addColumn<int>("timeShiftSeconds"); // 0: leave the new time stamp, <0: restore the old
    QTest::addColumn<std::optional<QByteArray>>("expected");

    const std::optional<QByteArray> two("two");
    QTest::newRow("in-place-longer") << u"in-place"_s << QByteArray("[S]\r\nk=value2\r\n") << 0
                                     << std::optional<QByteArray>("value2");
    QTest::newRow("in-place-same-size-newer-time")
        << u"in-place"_s << QByteArray("[S]\r\nk=two\r\n") << 1 << two;
    QTest::newRow("in-place-same-size-same-time")
        << u"in-place"_s << QByteArray("[S]\r\nk=two\r\n") << -1 << two;
    QTest::newRow("replaced-by-rename-same-time")
        << u"rename-over"_s << QByteArray("[S]\r\nk=two\r\n") << -1 << two;
    QTest::newRow("moved-away-then-recreated-same-time")
        << u"move-away"_s << QByteArray("[S]\r\nk=two\r\n") << -1 << two;
    QTest::newRow("removed-then-recreated-same-time")
        << u"remove"_s << QByteArray("[S]\r\nk=two\r\n") << -1 << two;
    QTest::newRow("removed") << u"remove"_s << QByteArray() << 0 << std::optional<QByteArray>();
}

void TestProfileFile::cacheSeesOutsideChange()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, changed);
    QFETCH(int, timeShiftSeconds);
    QFETCH(std::optional<QByteArray>, expected);

    QVERIFY(writeAll(file(), "[S]\r\nk=one\r\n"));
    const QDateTime stamp = QFileInfo(file()).lastModified();
    QCOMPARE(profile::readValue(file(), "S", "k"), std::optional<QByteArray>("one"));

    // Changed the way another program would, behind the engine's back.
    if (how == u"in-place"_s) {
        QFile f(file());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(0));
        QCOMPARE(f.write(changed), changed.size());
    } else if (how == u"rename-over"_s) {
        QSaveFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(changed), changed.size());
        QVERIFY(f.commit());
    } else if (how == u"move-away"_s) {
        QVERIFY(QFile::rename(file(), file(u"old.ini"_s)));
        QVERIFY(writeAll(file(), changed));
    } else {
        QVERIFY(QFile::remove(file()));
        if (!changed.isNull())
            QVERIFY(writeAll(file(), changed));
    }
    if (timeShiftSeconds != 0) {
        QFile f(file());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QDateTime when = timeShiftSeconds > 0 ? stamp.addSecs(timeShiftSeconds) : stamp;
        QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
#ifdef Q_OS_WIN
    if (timeShiftSeconds < 0 && how == u"in-place"_s)
        QSKIP("Windows reports no change time");
#endif
    QCOMPARE(profile::readValue(file(), "S", "k"), expected);
}

void TestProfileFile::specialFileInPlace()
{
#ifdef Q_OS_WIN
    QSKIP("Named pipes live elsewhere on Windows");
#else
    // A named pipe where the file should be must neither hang a read nor be
    // replaced by a write.
    const QString mkfifo = QStandardPaths::findExecutable(u"mkfifo"_s);
    if (mkfifo.isEmpty())
        QSKIP("mkfifo not available");
    QCOMPARE(QProcess::execute(mkfifo, {file()}), 0);
    QCOMPARE(profile::readValue(file(), "S", "k"), std::nullopt);
    const profile::WriteResult r = profile::writeValue(file(), "S", "k", "v");
    QVERIFY(!r.ok);
    QVERIFY2(r.reason.contains(u"regular file"_s), qPrintable(r.reason));
    QVERIFY(!QFileInfo(file()).isFile());
    QVERIFY(QFile::remove(file()));
#endif
}

void TestProfileFile::cacheFollowsOwnWrites()
{
    QVERIFY(writeAll(file(), "[S]\nk=1\n"));
    for (int i = 0; i < 50; ++i) {
        const QByteArray v = QByteArray::number(i);
        QVERIFY(profile::writeValue(file(), "S", "k", v).ok);
        QCOMPARE(profile::readValue(file(), "s", "K"), std::optional(v));
    }
    // The same file by another spelling of its path.
    const QString other = m_dir.path() + u"/./sub/../test.ini"_s;
    QVERIFY(QDir(m_dir.path()).mkdir(u"sub"_s));
    QVERIFY(profile::writeValue(other, "S", "k", "x").ok);
    QCOMPARE(profile::readValue(file(), "S", "k"), std::optional<QByteArray>("x"));
    QVERIFY(QDir(m_dir.path()).rmdir(u"sub"_s));
}

void TestProfileFile::writeStartsFromCurrentFile()
{
    // A change made by another program between our read and our write survives.
    QVERIFY(writeAll(file(), "[S]\na=1\n"));
    QCOMPARE(profile::readValue(file(), "S", "a"), std::optional<QByteArray>("1"));
    QVERIFY(writeAll(file(), "[S]\na=2\nb=3\n"));
    QVERIFY(profile::writeValue(file(), "S", "c", "4").ok);
    QCOMPARE(readAll(file()), QByteArray("[S]\na=2\nb=3\nc=4\n"));
    QCOMPARE(profile::readValue(file(), "S", "a"), std::optional<QByteArray>("2"));
}

void TestProfileFile::writeThroughSymbolicLink()
{
#ifdef Q_OS_WIN
    QSKIP("Symbolic links need privileges on Windows");
#else
    QVERIFY(QDir(m_dir.path()).mkpath(u"real"_s));
    const QString target = file(u"real/target.ini"_s);
    QVERIFY(writeAll(target, "[S]\nk=1\n"));
    QVERIFY(QFile::link(target, file(u"link.ini"_s)));
    QVERIFY(profile::writeValue(file(u"link.ini"_s), "S", "k", "2").ok);
    QVERIFY(QFileInfo(file(u"link.ini"_s)).isSymLink());
    QCOMPARE(readAll(target), QByteArray("[S]\nk=2\n"));
    QCOMPARE(profile::readValue(file(u"link.ini"_s), "S", "k"), std::optional<QByteArray>("2"));
    QVERIFY(QFile::remove(target));
    QVERIFY(QDir(m_dir.path()).rmdir(u"real"_s));
#endif
}

void TestProfileFile::readingNeverCreates()
{
    QCOMPARE(profile::readValue(file(), "S", "k"), std::nullopt);
    QCOMPARE(profile::readString(file(), u"S"_s, u"k"_s), std::nullopt);
    QVERIFY(!QFileInfo::exists(file()));
    QCOMPARE(profile::readValue(m_dir.path(), "S", "k"), std::nullopt);
    QCOMPARE(profile::readValue(QString(), "S", "k"), std::nullopt);
}

void TestProfileFile::textConveniences()
{
    const QString value = u"Gr\u00fc\u00dfe \u4e16\u754c"_s;
    QVERIFY(profile::writeString(file(), u"CONFIG"_s, u"Title\u00c9"_s, value).ok);
    QCOMPARE(profile::readString(file(), u"config"_s, u"title\u00c9"_s), std::optional(value));
    QCOMPARE(readAll(file()), QByteArray("[CONFIG]\r\nTitle\xc3\x89=" + value.toUtf8() + "\r\n"));
    const profile::WriteResult refused = profile::writeString(file(), u"A]"_s, u"k"_s, u"v"_s);
    QVERIFY(!refused);
    QVERIFY(!refused.reason.isEmpty());
}

// Values of every shape read back as the grammar says, and other keys stay.
void TestProfileFile::writeReadBackAgreesWithGrammar_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("readBack");
    QTest::newRow("plain") << QByteArray("v") << QByteArray("v");
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
    QTest::newRow("blanks") << QByteArray(" \t v \v\f") << QByteArray("v");
    QTest::newRow("quoted-blanks") << QByteArray("' v '") << QByteArray(" v ");
    QTest::newRow("only-quote") << QByteArray("\"") << QByteArray("\"");
    QTest::newRow("brackets") << QByteArray("[x]=y") << QByteArray("[x]=y");
    QTest::newRow("semicolon") << QByteArray(";c") << QByteArray(";c");
    QTest::newRow("long") << QByteArray(100000, 'x') << QByteArray(100000, 'x');
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("a\0b", 3);
}

void TestProfileFile::writeReadBackAgreesWithGrammar()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, readBack);
    QVERIFY(writeAll(file(), "[A]\nx=1\n[S]\nbefore=2\nk=old\nafter=3\n"));
    QVERIFY(profile::writeValue(file(), "S", "k", value).ok);
    profile::clearCache();
    QCOMPARE(profile::readValue(file(), "S", "k"), std::optional(readBack));
    QCOMPARE(profile::readValue(file(), "A", "x"), std::optional<QByteArray>("1"));
    QCOMPARE(profile::readValue(file(), "S", "before"), std::optional<QByteArray>("2"));
    QCOMPARE(profile::readValue(file(), "S", "after"), std::optional<QByteArray>("3"));
}

// Text crosses in the file's own encoding, and several keys are written in one
// save: all of them, or none when one cannot be written or the save fails.
void TestProfileFile::textWritesAllOrNothingInTheFilesEncoding_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QList<profile::Entry>>("entries");
    QTest::addColumn<bool>("replacementFails");
    QTest::addColumn<QByteArray>("after"); // empty: the write fails, file unchanged

    const QByteArray latin1 = "[CONFIG]\r\nServer=caf\xE9.example\r\nPort=7000\r\n";
    const auto server = [](const QString& value) {
        return QList<profile::Entry>{{u"CONFIG"_s, u"Server"_s, value}};
    };
    const auto six = [](const QString& fourth) {
        QList<profile::Entry> all;
        for (const QString& key :
             {u"Server"_s, u"Port"_s, u"Skin"_s, u"Music"_s, u"Sound"_s, u"TitleBGM"_s})
            all.append({u"CONFIG"_s, key, key == u"Music"_s ? fourth : u"1"_s});
        return all;
    };
    QTest::newRow("latin-1 unchanged")
        << latin1 << server(u"caf\u00e9.example"_s) << false << latin1;
    // ICU maps the bytes Windows-1252 leaves undefined to C1 controls, as Windows does.
    const QByteArray cp1252 = "[S]\nk=\x80\x8A\x81\x8D\x8F\x90\x9D\n";
    QTest::newRow("windows-1252 unchanged")
        << cp1252 << QList<profile::Entry>{{u"S"_s, u"k"_s, u"\u20ac\u0160\x81\x8d\x8f\x90\x9d"_s}}
        << false << cp1252;
    QTest::newRow("latin-1 edited") << latin1 << six(u"\u2026\u00e8"_s) << false
                                    << "[CONFIG]\r\nServer=1\r\nPort=1\r\nSkin=1\r\nMusic=\x85\xE8"
                                       "\r\nSound=1\r\nTitleBGM=1\r\n"_ba;
    // One byte that is not UTF-8 makes the whole file 8-bit, UTF-8 look-alikes included.
    const QByteArray mixed = "[CONFIG]\nServer=caf\xC3\xA9\n[X]\nName=\xE9t\xE9\n";
    QTest::newRow("mixed") << mixed << server(u"caf\u00c3\u00a9"_s) << false << mixed;
    QTest::newRow("utf-8") << "[CONFIG]\nServer=caf\xC3\xA9\n"_ba << server(u"\u4e16"_s) << false
                           << "[CONFIG]\nServer=\xE4\xB8\x96\n"_ba;
    QTest::newRow("fourth cannot be held") << latin1 << six(u"\u4e16"_s) << false << QByteArray();
    QTest::newRow("fourth refused") << latin1 << six(u"a\nb"_s) << false << QByteArray();
    QTest::newRow("replacement fails") << latin1 << six(u"1"_s) << true << QByteArray();
    QTest::newRow("replacement of a new file fails")
        << QByteArray() << six(u"1"_s) << true << QByteArray();
}

void TestProfileFile::textWritesAllOrNothingInTheFilesEncoding()
{
    QFETCH(QByteArray, before);
    QFETCH(QList<profile::Entry>, entries);
    QFETCH(bool, replacementFails);
    QFETCH(QByteArray, after);
    if (!before.isEmpty())
        QVERIFY(writeAll(file(), before));
    const QStringList filesBefore = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);

    QByteArray onDiskAtReplace;
    const profile::ReplaceStep diskFull = [&](QSaveFile& finished) {
        onDiskAtReplace = readAll(file());
        finished.cancelWriting();
        return u"No space left on device"_s;
    };
    const profile::WriteResult r =
        profile::writeStrings(file(), entries, replacementFails ? diskFull : nullptr);
    QCOMPARE(r.ok, !after.isEmpty());
    QCOMPARE(readAll(file()), r.ok ? after : before);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
             r.ok ? QStringList{u"test.ini"_s} : filesBefore);
    if (replacementFails) {
        QCOMPARE(onDiskAtReplace, before); // nothing was written in place
        QCOMPARE(r.reason, u"Cannot save %1: No space left on device"_s.arg(
                               QDir::toNativeSeparators(file())));
    }
    for (const profile::Entry& e : std::as_const(entries)) {
        QCOMPARE(profile::readString(file(), e.section, e.key) == e.value, r.ok);
    }
}

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
