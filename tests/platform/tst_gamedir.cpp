// Nothing outside the game folder is created, replaced or deleted through a
// GameDir, whatever links or pipes sit below the game folder.
//
// Each scratch folder holds the game folder "game" and, beside it, "outside":
// everything but "game" must be byte-identical after each case.

#include "GameDir.h"
#include "ScratchFolder.h"

#include <QFileInfo>
#include <QTest>

#include <chrono>
#include <future>

#ifdef Q_OS_WIN
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using testsupport::ScratchFolder;
using Kind = GameDir::Kind;

namespace {

enum class Setup
{
    FolderLink,
    FileLink,
    DanglingLink,
    PipeLink,
    Pipe,
    Junction
};
enum class Op
{
    Walk,
    WalkOtherCase,
    Create,
    Rename,
    WriteAtomically,
    Remove,
    RemoveFolder,
    Read
};

const QByteArray newBytes = "new bytes";
// The bits stored on disk; Qt's "User" bits say what the running user may do (root: anything).
constexpr int storedBits = 0x7077;

QMap<QString, QByteArray> outsideGame(const ScratchFolder& scratch)
{
    QMap<QString, QByteArray> all = scratch.snapshot();
    for (auto it = all.begin(); it != all.end();)
        it = it.key().startsWith("game/"_L1) ? all.erase(it) : std::next(it);
    return all;
}

#ifdef Q_OS_WIN
// A folder junction as Windows' own tools make it: a mount-point reparse point
// on an empty folder.
bool makeJunction(const QString& target, const QString& link, QString* why)
{
    const std::wstring substitute =
        u"\\??\\%1"_s.arg(QDir::toNativeSeparators(target)).toStdWString();
    const std::wstring print = QDir::toNativeSeparators(target).toStdWString();
    const auto subBytes = WORD(substitute.size() * sizeof(wchar_t));
    const auto printBytes = WORD(print.size() * sizeof(wchar_t));
    QByteArray buffer(16 + subBytes + printBytes + 4, '\0');
    auto* words = reinterpret_cast<WORD*>(buffer.data());
    *reinterpret_cast<DWORD*>(words) = IO_REPARSE_TAG_MOUNT_POINT;
    words[2] = WORD(buffer.size() - 8); // data after the 8-byte header
    words[4] = 0;                       // substitute name: offset, length
    words[5] = subBytes;
    words[6] = WORD(subBytes + 2); // print name after the substitute's NUL
    words[7] = printBytes;
    memcpy(buffer.data() + 16, substitute.data(), subBytes);
    memcpy(buffer.data() + 16 + subBytes + 2, print.data(), printBytes);
    if (!QDir().mkdir(link))
        return false;
    const HANDLE handle = ::CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(link).utf16()), GENERIC_WRITE, 0,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD got = 0;
    const bool ok = handle != INVALID_HANDLE_VALUE &&
                    ::DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      DWORD(buffer.size()), nullptr, 0, &got, nullptr);
    *why = u"setting a reparse point: "_s + qt_error_string(int(::GetLastError()));
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    if (!ok)
        QDir().rmdir(link);
    return ok;
}
#endif

// Makes `link` a symbolic link (or a junction) to `target`. False with the
// reason when this system cannot make one here; the caller skips.
bool makeLink(const QString& target, const QString& link, QString* why, bool junction = false)
{
#ifdef Q_OS_WIN
    if (junction)
        return makeJunction(target, link, why);
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (QFileInfo(target).isDir())
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    const auto native = [](const QString& path) {
        return reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16());
    };
    const QString linkPath = QDir::toNativeSeparators(link);
    const QString targetPath = QDir::toNativeSeparators(target);
    if (!::CreateSymbolicLinkW(native(linkPath), native(targetPath), flags)) {
        *why = u"making a symbolic link: "_s + qt_error_string(int(::GetLastError()));
        return false;
    }
    // Wine reports success and makes nothing.
    const DWORD attributes = ::GetFileAttributesW(native(linkPath));
    *why = u"this system reports a symbolic link made that is not there (Wine does)"_s;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    Q_UNUSED(junction);
    *why = u"making a symbolic link failed"_s;
    return QFile::link(target, link);
#endif
}

#ifndef Q_OS_WIN
bool isPipe(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}
#endif

QStringList L(std::initializer_list<const char*> names)
{
    QStringList list;
    for (const char* name : names)
        list.append(QString::fromUtf8(name));
    return list;
}

// Runs `op` with a bound: an implementation that blocks on a pipe is released
// (by opening the pipe's other end once) and reported (nullopt) instead of hanging.
std::optional<bool> bounded(const std::function<bool()>& op, const QString& pipe)
{
    auto result = std::async(std::launch::async, op);
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
#ifdef Q_OS_WIN
        Q_UNUSED(pipe);
#else
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
#endif
        if (result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout)
            qFatal("an operation on a named pipe blocked");
        result.get();
        return std::nullopt;
    }
    return result.get();
}

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(GameDir::Kind)

class TestGameDir : public QObject
{
    Q_OBJECT

private slots:
    void linksAndPipes_data();
    void linksAndPipes();
    void linkSwappedInAfterOpening();
    void walk_data();
    void walk();
    void writeAtomicallyKeepsPermissions_data();
    void writeAtomicallyKeepsPermissions();
    void badNamesRefused_data();
    void badNamesRefused();
    void createAndRead();
#ifdef Q_OS_WIN
    void heldOrReadOnly_data();
    void heldOrReadOnly();
#endif
};

void TestGameDir::linksAndPipes_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<Op>("op");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Kind>("after"); // what "x" is afterwards

    const auto row = [](const char* name, Setup setup, Op op, bool ok, Kind after) {
        QTest::newRow(name) << setup << op << ok << after;
    };
    row("folder link: walk into", Setup::FolderLink, Op::Walk, false, Kind::Link);
    row("folder link: walk into, other case", Setup::FolderLink, Op::WalkOtherCase, false,
        Kind::Link);
    row("folder link: remove as folder", Setup::FolderLink, Op::RemoveFolder, false, Kind::Link);
    row("folder link: remove as file", Setup::FolderLink, Op::Remove, true, Kind::Missing);
    row("file link: renamed over", Setup::FileLink, Op::Rename, true, Kind::File);
    row("file link: written atomically", Setup::FileLink, Op::WriteAtomically, true, Kind::File);
    row("file link: create", Setup::FileLink, Op::Create, false, Kind::Link);
    row("file link: read", Setup::FileLink, Op::Read, false, Kind::Link);
    row("file link: walk into", Setup::FileLink, Op::Walk, false, Kind::Link);
    row("file link: remove", Setup::FileLink, Op::Remove, true, Kind::Missing);
    row("dangling link: create", Setup::DanglingLink, Op::Create, false, Kind::Link);
    row("dangling link: renamed over", Setup::DanglingLink, Op::Rename, true, Kind::File);
    row("dangling link: written atomically", Setup::DanglingLink, Op::WriteAtomically, true,
        Kind::File);
    row("dangling link: walk into", Setup::DanglingLink, Op::Walk, false, Kind::Link);
    row("pipe link: read", Setup::PipeLink, Op::Read, false, Kind::Link);
    row("pipe link: written atomically", Setup::PipeLink, Op::WriteAtomically, true, Kind::File);
    row("pipe: read", Setup::Pipe, Op::Read, false, Kind::Other);
    row("pipe: create", Setup::Pipe, Op::Create, false, Kind::Other);
    row("pipe: walk into", Setup::Pipe, Op::Walk, false, Kind::Other);
#ifdef Q_OS_WIN
    row("junction: walk into", Setup::Junction, Op::Walk, false, Kind::Link);
    row("junction: remove as folder", Setup::Junction, Op::RemoveFolder, false, Kind::Link);
    row("junction: remove as file", Setup::Junction, Op::Remove, true, Kind::Missing);
    row("junction: written atomically", Setup::Junction, Op::WriteAtomically, false, Kind::Link);
#endif
}

void TestGameDir::linksAndPipes()
{
    QFETCH(Setup, setup);
    QFETCH(Op, op);
    QFETCH(bool, ok);
    QFETCH(Kind, after);

    ScratchFolder scratch;
    QTemporaryDir pipes; // outside the scratch: a snapshot would block reading a pipe
    QVERIFY(scratch.isValid() && pipes.isValid());
    QVERIFY(scratch.write(u"outside/target.txt"_s, "outside bytes"));
    QVERIFY(scratch.write(u"outside/folder/keep.txt"_s, "keep"));
    QVERIFY(QDir().mkpath(scratch.file(u"game"_s)));
    const auto before = outsideGame(scratch); // now: reading through a link to a pipe blocks
    const QString x = scratch.file(u"game/x"_s);
    const QString pipe = setup == Setup::Pipe ? x : pipes.filePath(u"pipe"_s);
    const bool noPipe = setup != Setup::Pipe && setup != Setup::PipeLink;
#ifdef Q_OS_WIN
    if (!noPipe)
        QSKIP("Windows keeps named pipes out of the file system");
#else
    QVERIFY(noPipe || ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
#endif
    const bool toFolder = setup == Setup::FolderLink || setup == Setup::Junction;
    const QString target = toFolder                       ? scratch.file(u"outside/folder"_s)
                           : setup == Setup::FileLink     ? scratch.file(u"outside/target.txt"_s)
                           : setup == Setup::DanglingLink ? scratch.file(u"outside/absent.txt"_s)
                                                          : pipe;
    QString why;
    if (setup != Setup::Pipe && !makeLink(target, x, &why, setup == Setup::Junction))
        QSKIP(qPrintable(why));

    auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);
    QString error;
    QStringList created;
    const auto run = [&]() -> bool {
        switch (op) {
        case Op::Walk:
            return game->openSub({u"x"_s, u"deeper"_s}, true, &created, &error).has_value();
        case Op::WalkOtherCase:
            return game->openSub({u"X"_s, u"deeper"_s}, true, &created, &error).has_value();
        case Op::Create:
            return game->createNew(u"x"_s, QFileDevice::ReadOwner, &error) != nullptr;
        case Op::Rename: {
            const auto file = game->createNew(u"new"_s, QFileDevice::ReadOwner, &error);
            return file && file->write(newBytes) == newBytes.size() &&
                   game->rename(u"new"_s, u"x"_s, &error);
        }
        case Op::WriteAtomically:
            return game->writeFileAtomically(u"x"_s, newBytes, &error);
        case Op::Remove:
            return game->removeFile(u"x"_s);
        case Op::RemoveFolder:
            return game->removeEmptyFolder(u"x"_s);
        case Op::Read:
            return game->readFile(u"x"_s, 1024, &error).has_value();
        }
        return false;
    };
    const std::optional<bool> result = bounded(run, pipe);
    QVERIFY2(result, "blocked on a named pipe");
    QCOMPARE(*result, ok);
    QVERIFY(ok || op == Op::Remove || op == Op::RemoveFolder || !error.isEmpty());
    QCOMPARE(created, QStringList());
    QCOMPARE(game->kindOf(u"x"_s), after);
    // No temporary or half-made entry is left behind.
    QCOMPARE(game->entries(), after == Kind::Missing ? QStringList() : QStringList(u"x"_s));
    if (after == Kind::File) {
        QCOMPARE(game->readFile(u"x"_s, 1024).value_or(QByteArray()), newBytes);
        QVERIFY(!QFileInfo(x).isSymLink());
    }
#ifndef Q_OS_WIN
    if (setup == Setup::PipeLink || setup == Setup::Pipe) {
        QVERIFY(isPipe(pipe));
        QCOMPARE(::unlink(QFile::encodeName(pipe).constData()), 0);
    }
#endif
    QCOMPARE(outsideGame(scratch), before);
}

void TestGameDir::linkSwappedInAfterOpening()
{
    ScratchFolder scratch;
    QVERIFY(scratch.write(u"outside/folder/keep.txt"_s, "keep"));
    QVERIFY(scratch.write(u"game/data/old.txt"_s, "old"));
    const auto before = outsideGame(scratch);
    const auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);
    const auto data = game->openSub({u"data"_s}, false);
    QVERIFY(data);

    // The opened folder is moved away and a link to the outside takes its name.
    QVERIFY(game->rename(u"data"_s, u"moved"_s));
    QString why;
    if (!makeLink(scratch.file(u"outside/folder"_s), scratch.file(u"game/data"_s), &why))
        QSKIP(qPrintable(why));
#ifdef Q_OS_WIN
    // Paths there: the moved folder is out of reach and the link is refused.
    QVERIFY(!data->writeFileAtomically(u"keep.txt"_s, newBytes));
    QVERIFY(!data->createNew(u"added.txt"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(!data->removeFile(u"old.txt"_s));
    QCOMPARE(outsideGame(scratch), before);
    return;
#endif
    QVERIFY(data->writeFileAtomically(u"keep.txt"_s, newBytes));
    QVERIFY(data->createNew(u"added.txt"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(data->removeFile(u"old.txt"_s));

    QCOMPARE(outsideGame(scratch), before);
    QCOMPARE(scratch.read(u"game/moved/keep.txt"_s), newBytes);
    QVERIFY(scratch.exists(u"game/moved/added.txt"_s));
    QVERIFY(!scratch.exists(u"game/moved/old.txt"_s));
    QVERIFY(!game->openSub({u"data"_s}, true));
}

void TestGameDir::walk_data()
{
    QTest::addColumn<QStringList>("folders"); // made beforehand
    QTest::addColumn<QString>("file");        // made beforehand when not empty
    QTest::addColumn<QStringList>("segments");
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QString>("at"); // where the result is, below the game folder

    QTest::newRow("all new") << L({}) << QString() << L({"a", "b", "c"}) << true << true
                             << L({"a", "a/b", "a/b/c"}) << u"a/b/c"_s;
    QTest::newRow("other case reused")
        << L({"Data/Maps"}) << QString() << L({"data", "MAPS", "new"}) << true << true
        << L({"Data/Maps/new"}) << u"Data/Maps/new"_s;
#ifdef Q_OS_WIN
    // The file system ignores case, all of Unicode's.
    QTest::newRow("any case folded")
        << L({"Über"}) << QString() << L({"über"}) << true << true << L({}) << u"Über"_s;
#else
    QTest::newRow("exact case preferred")
        << L({"data", "DATA"}) << QString() << L({"DATA"}) << false << true << L({}) << u"DATA"_s;
    QTest::newRow("only ASCII case folded")
        << L({"Über"}) << QString() << L({"über"}) << true << true << L({"über"}) << u"über"_s;
#endif
    QTest::newRow("missing, no create")
        << L({}) << QString() << L({"a", "b"}) << false << false << L({}) << QString();
    QTest::newRow("file in the way")
        << L({}) << u"a"_s << L({"a", "b"}) << true << false << L({}) << QString();
    QTest::newRow("file in the way, other case")
        << L({}) << u"A"_s << L({"a"}) << true << false << L({}) << QString();
    QTest::newRow("parent") << L({}) << QString() << L({"..", "game"}) << true << false << L({})
                            << QString();
    QTest::newRow("empty segment after a new one")
        << L({}) << QString() << L({"a", ""}) << true << false << L({"a"}) << QString();
    QTest::newRow("separator inside")
        << L({}) << QString() << L({"a/b"}) << true << false << L({}) << QString();
    QTest::newRow("no segments") << L({}) << QString() << L({}) << false << true << L({}) << u""_s;
    const QString longName(60, u'x'); // five of them: past Windows' old 260-character limit
    const QStringList deep(5, longName);
    QStringList deepMade;
    for (qsizetype i = 1; i <= deep.size(); ++i)
        deepMade.append(deep.first(i).join(u'/'));
    QTest::newRow("long path") << L({}) << QString() << deep << true << true << deepMade
                               << deepMade.last();
}

void TestGameDir::walk()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, file);
    QFETCH(QStringList, segments);
    QFETCH(bool, create);
    QFETCH(bool, ok);
    QFETCH(QStringList, created);
    QFETCH(QString, at);

    ScratchFolder scratch;
    QVERIFY(scratch.write(u"outside.txt"_s, "outside"));
    const QString root = scratch.file(u"game"_s);
    for (const QString& folder : folders + QStringList{QString()})
        QVERIFY(QDir(root).mkpath(folder.isEmpty() ? u"."_s : folder));
    if (!file.isEmpty())
        QVERIFY(scratch.write(u"game/"_s + file, "file"));
    const auto before = outsideGame(scratch);
    const auto game = GameDir::openRoot(root);
    QVERIFY(game);

    QStringList made;
    QString error;
    const auto sub = game->openSub(segments, create, &made, &error);
    QCOMPARE(sub.has_value(), ok);
    QCOMPARE(made, created);
    QCOMPARE(outsideGame(scratch), before);
    if (!sub) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(sub->path(), at.isEmpty() ? root : QString(root + u'/' + at));
    QVERIFY(sub->createNew(u"probe"_s, QFileDevice::ReadOwner));
    QVERIFY(QFileInfo(root + u'/' + at + u"/probe"_s).isFile());
}

void TestGameDir::writeAtomicallyKeepsPermissions_data()
{
    QTest::addColumn<int>("mode"); // of the existing file; 0: none exists

    QTest::newRow("owner only") << 0600;
    QTest::newRow("shared read") << 0644;
    QTest::newRow("executable") << 0750;
    QTest::newRow("read-only") << 0444;
    QTest::newRow("new file") << 0;
}

void TestGameDir::writeAtomicallyKeepsPermissions()
{
    QFETCH(int, mode);

    ScratchFolder scratch;
    QVERIFY(scratch.write(u"reference"_s, "")); // the umask's permissions for a new file
    if (mode != 0) {
        QVERIFY(scratch.write(u"game/f"_s, "old bytes"));
        // Qt's flags: owner, user (as owner), group, other; four bits each.
        const int owner = (mode >> 6) & 7;
        const auto perms =
            QFileDevice::Permissions((owner << 12) | (owner << 8) | (mode & 070) << 1 | (mode & 7));
        QVERIFY(QFile::setPermissions(scratch.file(u"game/f"_s), perms));
    }
    QVERIFY(QDir().mkpath(scratch.file(u"game"_s)));
    const auto expected = mode != 0 ? QFileInfo(scratch.file(u"game/f"_s)).permissions()
                                    : QFileInfo(scratch.file(u"reference"_s)).permissions();
    const auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);

    QString error;
    QVERIFY2(game->writeFileAtomically(u"f"_s, newBytes, &error), qPrintable(error));
    QCOMPARE(scratch.read(u"game/f"_s), newBytes);
    QCOMPARE(game->permissionsOf(u"f"_s).value_or(QFileDevice::Permissions()) & storedBits,
             expected & storedBits);
    QCOMPARE(game->entries(), QStringList(u"f"_s));
}

void TestGameDir::badNamesRefused_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("empty") << QString();
    QTest::newRow("dot") << u"."_s;
    QTest::newRow("dot-dot") << u".."_s;
    QTest::newRow("two components") << u"sub/f"_s;
    QTest::newRow("NUL") << u"f\0g"_s;
#ifdef Q_OS_WIN
    QTest::newRow("device") << u"con"_s;
    QTest::newRow("device with extension") << u"Aux.txt"_s;
    QTest::newRow("port") << u"COM1"_s;
    QTest::newRow("port, superscript digit") << u"lpt\u00b9.log"_s;
    QTest::newRow("trailing dot") << u"f."_s;
    QTest::newRow("trailing space") << u"f "_s;
    QTest::newRow("stream") << u"f:hidden"_s;
    QTest::newRow("backslash") << u"sub\\f"_s;
    QTest::newRow("wildcard") << u"f*"_s;
    QTest::newRow("control character") << u"f\tg"_s;
#endif
}

void TestGameDir::badNamesRefused()
{
    QFETCH(QString, name);

    ScratchFolder scratch;
    QVERIFY(scratch.write(u"game/sub/f"_s, "inside"));
    QVERIFY(scratch.write(u"game/f"_s, "inside"));
    QVERIFY(scratch.write(u"outside"_s, "outside"));
    const auto before = scratch.snapshot();
    const auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);

    QString error;
    QVERIFY(!game->createNew(name, QFileDevice::ReadOwner, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!game->writeFileAtomically(name, newBytes));
    QVERIFY(!game->rename(u"f"_s, name));
    QVERIFY(!game->rename(name, u"g"_s));
    QVERIFY(!game->removeFile(name));
    QVERIFY(!game->readFile(name, 1024));
    QCOMPARE(game->kindOf(name), Kind::Other);
    QCOMPARE(scratch.snapshot(), before);
}

void TestGameDir::createAndRead()
{
    ScratchFolder scratch;
    QVERIFY(QDir().mkpath(scratch.file(u"game/sub"_s)));
    const auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);

    // Exactly the permissions asked for, whatever the umask.
    const auto perms = QFileDevice::Permissions(0x6666); // read and write for everyone
    const auto file = game->createNew(u"f"_s, perms);
    QVERIFY(file && file->isOpen());
    QCOMPARE(file->write("hello"), 5);
    QCOMPARE(scratch.read(u"game/f"_s), QByteArray("hello")); // unbuffered: on disk at once
    QCOMPARE(QFileInfo(scratch.file(u"game/f"_s)).permissions() & storedBits, perms & storedBits);
    QVERIFY(!game->createNew(u"f"_s, perms));
    QVERIFY(!game->createNew(u"sub"_s, perms));

    QString error;
    QCOMPARE(game->readFile(u"f"_s, 5).value_or(QByteArray()), QByteArray("hello"));
    QVERIFY(!game->readFile(u"f"_s, 4, &error));
    QVERIFY(error.contains("larger"_L1));
    QVERIFY(!game->readFile(u"sub"_s, 1024));
    QCOMPARE(game->kindOf(u"sub"_s), Kind::Folder);
    QVERIFY(game->sync());
    // A folder cannot be replaced; the temporary file goes, the folder stays.
    QVERIFY(scratch.write(u"game/sub/inner"_s, "inner"));
    QVERIFY(!game->writeFileAtomically(u"sub"_s, newBytes, &error));
    QCOMPARE(game->entries(), QStringList({u"f"_s, u"sub"_s}));
    QCOMPARE(scratch.read(u"game/sub/inner"_s), QByteArray("inner"));
    QVERIFY(!game->removeFile(u"sub"_s));
    QVERIFY(!game->removeEmptyFolder(u"sub"_s));
    QVERIFY(!game->removeEmptyFolder(u"f"_s));
}

#ifdef Q_OS_WIN
void TestGameDir::heldOrReadOnly_data()
{
    QTest::addColumn<int>("share"); // how another program holds "x" open; -1: not open
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("replaceable"); // and removable

    QTest::newRow("held, nothing shared") << 0 << false << false << false;
    QTest::newRow("held, reading and writing shared")
        << int(FILE_SHARE_READ | FILE_SHARE_WRITE) << false << true << false;
    QTest::newRow("read-only") << -1 << true << true << true;
}

// Windows refuses to replace or remove a file another program holds open, and
// a read-only one unless told. Either way the old file stays whole and no
// temporary file is left.
void TestGameDir::heldOrReadOnly()
{
    QFETCH(int, share);
    QFETCH(bool, readOnly);
    QFETCH(bool, readable);
    QFETCH(bool, replaceable);

    ScratchFolder scratch;
    QVERIFY(scratch.write(u"game/x"_s, "old bytes"));
    if (readOnly)
        QVERIFY(QFile::setPermissions(scratch.file(u"game/x"_s), QFileDevice::ReadOwner));
    const auto game = GameDir::openRoot(scratch.file(u"game"_s));
    QVERIFY(game);
    const std::wstring native = QDir::toNativeSeparators(scratch.file(u"game/x"_s)).toStdWString();
    const HANDLE held = share < 0 ? INVALID_HANDLE_VALUE
                                  : ::CreateFileW(native.c_str(), GENERIC_READ, DWORD(share),
                                                  nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(share < 0 || held != INVALID_HANDLE_VALUE);

    QString error;
    const auto bytes = game->readFile(u"x"_s, 1024, &error);
    QCOMPARE(bytes.has_value(), readable);
    QVERIFY(readable ? *bytes == "old bytes" : error.contains(u"in use"_s));
    error.clear();
    QCOMPARE(game->writeFileAtomically(u"x"_s, newBytes, &error), replaceable);
    QVERIFY(replaceable || error.contains(u"in use"_s));
    QCOMPARE(game->entries(), QStringList(u"x"_s));
    if (held != INVALID_HANDLE_VALUE)
        ::CloseHandle(held);
    QCOMPARE(scratch.read(u"game/x"_s), replaceable ? newBytes : QByteArray("old bytes"));
    // The permissions of the file replaced are kept.
    QCOMPARE(QFileInfo(scratch.file(u"game/x"_s)).isWritable(), !readOnly);
    QVERIFY(game->removeFile(u"x"_s));
    QCOMPARE(game->entries(), QStringList());
}
#endif

QTEST_GUILESS_MAIN(TestGameDir)
#include "tst_gamedir.moc"
