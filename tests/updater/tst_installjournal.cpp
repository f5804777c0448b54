#include "InstallJournal.h"
#include "ResumeIndex.h"
#include "StagedFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Files = QMap<QString, QByteArray>; // relative path -> bytes; "/" marks a folder
using Recovery = installjournal::Recovery;

const QByteArray Header = "quorvane-install-journal 1\n";

// The manifest the interrupted install was bringing in.
const QByteArray NewInfo = "[VERSION]\r\nVersion=1.1\r\nMax=2\r\n[FILES]\r\n"
                           "FileName1=a.dat\r\nFileVersion1=2\r\nFilePath1=\r\n"
                           "FileName2=b.dat\r\nFileVersion2=2\r\nFilePath2=sub\r\n";

// The folder an earlier run left: old game files, its part files and a journal.
const Files Staged{
    {u"a.dat"_s, "old a"},
    {u"sub/b.dat"_s, "old b"},
    {u"info.ini"_s, "old info"},
    {u".qvpart-aaaaaaaa"_s, "A1"},
    {u"sub/.qvpart-bbbbbbbb"_s, "B22"},
    {u".qvpart-iiiiiiii"_s, NewInfo},
};
const QByteArray Journal = Header +
                           "2\t.qvpart-aaaaaaaa\ta.dat\n"
                           "3\tsub/.qvpart-bbbbbbbb\tsub/b.dat\n" +
                           QByteArray::number(NewInfo.size()) + "\t.qvpart-iiiiiiii\tinfo.ini\n";

bool writeAll(const QString& root, const Files& files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = root + u'/' + it.key();
        if (!QDir().mkpath(QFileInfo(path).path()))
            return false;
        if (it.value() == "/") {
            if (!QDir().mkpath(path) || !QDir().mkpath(path + u"/inside"_s))
                return false;
            continue;
        }
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(it.value()) != it.value().size())
            return false;
    }
    return true;
}

// Every file below `root` (folders as "/"), the journal included.
Files readAll(const QString& root)
{
    Files files;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir(path).isEmpty())
                continue;
            files.insert(relative, "/");
            continue;
        }
        QFile f(path);
        files.insert(relative, f.open(QIODevice::ReadOnly) ? f.readAll() : "unreadable");
    }
    return files;
}

Files with(Files files, const Files& changes, const QStringList& gone = {})
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        files.insert(it.key(), it.value());
    for (const QString& name : gone)
        files.remove(name);
    return files;
}

} // namespace

class TestInstallJournal : public QObject
{
    Q_OBJECT

private slots:
    void recovery_data();
    void recovery();
    void resumeRows_data();
    void resumeRows();
    void installSyncsBeforeRenaming();
    void failedRenameKeepsOldManifest();
};

void TestInstallJournal::recovery_data()
{
    QTest::addColumn<Files>("before");
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<Recovery>("expected");
    QTest::addColumn<Files>("after"); // without the journal
    QTest::addColumn<bool>("journalKept");
    QTest::addColumn<QString>("noted"); // part of a note; empty: no notes

    const QStringList parts{u".qvpart-aaaaaaaa"_s, u"sub/.qvpart-bbbbbbbb"_s,
                            u".qvpart-iiiiiiii"_s};
    const Files installed{{u"a.dat"_s, "A1"}, {u"sub/b.dat"_s, "B22"}, {u"info.ini"_s, NewInfo}};
    const Files old = with(Staged, {}, parts);

    QTest::newRow("complete") << Staged << Journal << Recovery::Completed
                              << with(Staged, installed, parts) << false << QString();
    QTest::newRow("complete, first already renamed")
        << with(Staged, {{u"a.dat"_s, "A1"}}, {parts[0]}) << Journal << Recovery::Completed
        << with(Staged, installed, parts) << false << QString();
    QTest::newRow("part lost, target missing")
        << with(Staged, {}, {parts[1], u"sub/b.dat"_s}) << Journal << Recovery::RolledBack
        << with(old, {}, {u"sub/b.dat"_s}) << false << u"neither staged nor in place"_s;
    // The target is there, but not as the journal's size says: not installed.
    QTest::newRow("part lost, target of another size")
        << with(Staged, {}, {parts[1]}) << Journal << Recovery::RolledBack << old << false
        << u"sub/b.dat is neither staged nor in place"_s;
    QTest::newRow("no journal") << Staged << QByteArray() << Recovery::Nothing << Staged << false
                                << QString();

    // Void: nothing renamed or removed but the journal, and the notes say why.
    const auto malformed = [&](const char* name, const QByteArray& line, const char* why) {
        QTest::newRow(name) << Staged << QByteArray(Header + line + Journal.sliced(Header.size()))
                            << Recovery::Ignored << Staged << false << QString::fromLatin1(why);
    };
    malformed("size not a number", "x1\t.qvpart-cccccccc\tc.dat\n",
              "refused, line 2: the size is not");
    malformed("negative size", "-1\t.qvpart-cccccccc\tc.dat\n", "refused, line 2: the size is not");
    malformed("missing field", "1\tc.dat\n", "refused, line 2: 2 fields where 3 belong");
    malformed("extra field", "1\t.qvpart-cccccccc\tc.dat\tx\n", "refused, line 2: 4 fields");
    malformed("target outside", "1\t.qvpart-cccccccc\t../c.dat\n",
              "ignored: a path leaves the game folder");
    malformed("absolute part", "1\t/tmp/x\tc.dat\n", "ignored: a path leaves the game folder");
    QTest::newRow("wrong header") << Staged
                                  << QByteArray("quorvane-install-journal 2\n" +
                                                Journal.sliced(Header.size()))
                                  << Recovery::Ignored << Staged << false
                                  << u"refused, line 1: not the header"_s;

    // A folder took a target's place: the rename fails, so the recovery stops
    // there, says so and keeps the journal; the manifest stays old.
    QTest::newRow("rename fails") << with(Staged, {{u"sub/b.dat"_s, "/"}}) << Journal
                                  << Recovery::Incomplete
                                  << with(Staged,
                                          {{u"a.dat"_s, "A1"}, {u"sub/b.dat/inside"_s, "/"}},
                                          {parts[0], u"sub/b.dat"_s})
                                  << true << u"could not complete"_s;
}

void TestInstallJournal::recovery()
{
    QFETCH(Files, before);
    QFETCH(QByteArray, journal);
    QFETCH(Recovery, expected);
    QFETCH(Files, after);
    QFETCH(bool, journalKept);
    QFETCH(QString, noted);

    QTemporaryDir dir;
    QVERIFY(writeAll(dir.path(), before));
    if (!journal.isEmpty())
        QVERIFY(writeAll(dir.path(), {{installjournal::FileName.toString(), journal}}));
    const std::optional<GameDir> root = GameDir::openRoot(dir.path());
    QVERIFY(root);

    QStringList notes;
    QCOMPARE(installjournal::recover(*root, &notes), expected);

    Files now = readAll(dir.path());
    QCOMPARE(now.remove(installjournal::FileName.toString()) == 1, journalKept);
    QCOMPARE(now, after);
    if (noted.isEmpty())
        QCOMPARE(notes, QStringList());
    else
        QVERIFY2(notes.join(u'\n').contains(noted), qPrintable(notes.join(u'\n')));
}

void TestInstallJournal::resumeRows_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<ResumeRecord>("wanted"); // target, address, version, size, hash
    QTest::addColumn<bool>("matched");
    QTest::addColumn<QString>("voided"); // part of the reason; empty: none

    const QByteArray good =
        "sub/b.dat\tsub\t.qvpart-bbbbbbbb\thttp://s/b.dat\t2\t10\t\t\"v1\"\t-1\n";
    const ResumeRecord same{u"SUB/b.dat"_s, {}, {}, u"http://s/b.dat"_s, u"2"_s, 10, {}, {}, -1};
    const auto changed = [&](auto change) {
        ResumeRecord other = same;
        change(other);
        return other;
    };
    QTest::newRow("same file") << good << same << true << QString();
    // The file changed on the site: another size, version, hash or address.
    QTest::newRow("other size") << good << changed([](ResumeRecord& r) { r.size = 11; }) << false
                                << QString();
    QTest::newRow("other version")
        << good << changed([](ResumeRecord& r) { r.version = u"3"_s; }) << false << QString();
    QTest::newRow("other hash") << good
                                << changed([](ResumeRecord& r) { r.hash = QByteArray(64, 'a'); })
                                << false << QString();
    QTest::newRow("other address")
        << good << changed([](ResumeRecord& r) { r.url = u"http://s/c/b.dat"_s; }) << false
        << QString();
    QTest::newRow("missing field")
        << QByteArray("sub/b.dat\tsub\t.qvpart-bbbbbbbb\thttp://s/b.dat\t2\t10\t\t\"v1\"\n") << same
        << false << u"line 2: 8 fields where 9 belong"_s;
    QTest::newRow("size not a number")
        << QByteArray("sub/b.dat\tsub\t.qvpart-bbbbbbbb\thttp://s/b.dat\t2\tten\t\t\"v1\"\t-1\n")
        << same << false << u"line 2: a size is not a number"_s;
}

void TestInstallJournal::resumeRows()
{
    QFETCH(QByteArray, row);
    QFETCH(ResumeRecord, wanted);
    QFETCH(bool, matched);
    QFETCH(QString, voided);

    QTemporaryDir dir;
    QVERIFY(writeAll(dir.path(), {{ResumeIndex::FileName.toString(), "quorvane-resume 2\n" + row},
                                  {u"sub/.qvpart-bbbbbbbb"_s, "0123456789"}}));
    const std::optional<GameDir> root = GameDir::openRoot(dir.path());
    QVERIFY(root);
    ResumeIndex index(*root);
    const QString reasons = index.voided().join(u'\n');
    QCOMPARE(reasons.isEmpty(), voided.isEmpty());
    QVERIFY2(reasons.contains(voided), qPrintable(reasons));
    const std::optional<ResumeRecord> record = index.take(wanted);
    QCOMPARE(record.has_value(), matched);
    if (record)
        QCOMPARE(record->part, u".qvpart-bbbbbbbb"_s);
}

// Every part is durable before the first target is replaced: a crash in
// between must find complete files to finish the install from.
void TestInstallJournal::installSyncsBeforeRenaming()
{
    QTemporaryDir dir;
    QVERIFY(writeAll(dir.path(), {{u"a.dat"_s, "old a"}, {u"info.ini"_s, "old info"}}));
    const std::optional<GameDir> root = GameDir::openRoot(dir.path());
    QVERIFY(root);
    int syncs = 0;
    QStringList synced;
    Files atSync;
    StagedFiles staged(*root, [&](const QStringList& paths) {
        ++syncs;
        synced = paths;
        atSync = readAll(dir.path());
        return QStringList();
    });
    QString error;
    StagedFiles::Part part = staged.createPart({u"sub"_s}, u"c.dat"_s, nullptr, &error);
    QVERIFY2(part.file && part.file->write("new c") == 5, qPrintable(error));
    const QString partName = u"sub/"_s + part.name;
    staged.add(std::move(part), u"c.dat"_s, {});
    part = staged.createPart({}, u"a.dat"_s, nullptr, &error);
    QVERIFY(part.file && part.file->write("new a") == 5);
    staged.add(std::move(part), u"a.dat"_s, {});
    QVERIFY(staged.stageManifest("new info"));

    QCOMPARE(staged.install(), QStringList());
    QCOMPARE(syncs, 1);
    QCOMPARE(synced.size(), 3);
    QVERIFY(synced.contains(dir.path() + u'/' + partName));
    // At that moment nothing was replaced yet and no journal was written.
    QCOMPARE(atSync.value(u"a.dat"_s), QByteArray("old a"));
    QCOMPARE(atSync.value(u"info.ini"_s), QByteArray("old info"));
    QVERIFY(!atSync.contains(u"sub/c.dat"_s));
    QVERIFY(!atSync.contains(installjournal::FileName.toString()));
    QCOMPARE(
        readAll(dir.path()),
        (Files{{u"a.dat"_s, "new a"}, {u"sub/c.dat"_s, "new c"}, {u"info.ini"_s, "new info"}}));
}

// A file that cannot be renamed into place fails the install, and the
// manifest must not claim the new version.
void TestInstallJournal::failedRenameKeepsOldManifest()
{
    QTemporaryDir dir;
    QVERIFY(writeAll(dir.path(), {{u"a.dat"_s, "old a"}, {u"info.ini"_s, "old info"}}));
    const std::optional<GameDir> root = GameDir::openRoot(dir.path());
    QVERIFY(root);
    QString lostPart;
    // Between the sync and the renames another program takes the part away.
    StagedFiles staged(*root, [&](const QStringList&) {
        QFile::remove(dir.path() + u'/' + lostPart);
        return QStringList();
    });
    QString error;
    StagedFiles::Part part = staged.createPart({}, u"a.dat"_s, nullptr, &error);
    QVERIFY(part.file && part.file->write("new a") == 5);
    lostPart = part.name;
    staged.add(std::move(part), u"a.dat"_s, {});
    QVERIFY(staged.stageManifest("new info"));

    QCOMPARE(staged.install(), QStringList{u"a.dat"_s});
    QVERIFY2(staged.failureCauses().join(u'\n').contains(u"could not install"_s),
             qPrintable(staged.failureCauses().join(u'\n')));
    QCOMPARE(readAll(dir.path()), (Files{{u"a.dat"_s, "old a"}, {u"info.ini"_s, "old info"}}));
}

QTEST_GUILESS_MAIN(TestInstallJournal)
#include "tst_installjournal.moc"
