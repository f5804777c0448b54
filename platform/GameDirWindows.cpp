// GameDir on Windows: the same rules, checked on paths and on open handles.

#include "GameDir.h"
#include "GameDirInternal.h"
#include "WindowsPath.h"

#include <QtGlobal>

#ifdef Q_OS_WIN

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <string>
#include <utility>
#include <windows.h>

using namespace Qt::StringLiterals;
using namespace gamedir;

// Before each use every component from the game folder down is checked not to
// be a link or junction, and files are opened without following one (their
// handle is checked). What remains is a race on folders: a link swapped in for
// a folder between that check and the use of the path is followed. Closing it
// needs handle-relative opens, which this does not do.

namespace {

using Kind = GameDir::Kind;

// Long enough for antivirus scanners and indexers, which open new files briefly.
constexpr int busyRetries = 5;
constexpr DWORD busyPauseMs = 100;

std::wstring nativePath(const QString& path)
{
    return winpath::longPath(path);
}

QString reason(const QString& path, DWORD err)
{
    return u"%1: %2"_s.arg(QDir::toNativeSeparators(path), qt_error_string(int(err)));
}

// Symbolic links, junctions and any reparse point Windows does not document as
// plain data (compressed, deduplicated or cloud files are files).
bool isLink(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (IsReparseTagNameSurrogate(tag) || !IsReparseTagMicrosoft(tag));
}

struct Entry
{
    Kind kind = Kind::Missing;
    DWORD attributes = 0;
};

// The entry itself, never what a link leads to.
Entry entryAt(const QString& path)
{
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileExW(nativePath(path).c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        return {missing ? Kind::Missing : Kind::Other, 0};
    }
    ::FindClose(find);
    const DWORD attributes = data.dwFileAttributes;
    if (isLink(attributes, data.dwReserved0))
        return {Kind::Link, attributes};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return {Kind::Folder, attributes};
    return {attributes & FILE_ATTRIBUTE_DEVICE ? Kind::Other : Kind::File, attributes};
}

// An existing regular file opened without following a link; the handle itself
// is checked, so a link swapped in after entryAt() is refused too. Others may
// go on reading, writing, renaming and deleting it meanwhile.
HANDLE openExisting(const QString& path, DWORD access)
{
    const HANDLE handle = ::CreateFileW(
        nativePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) ||
        isLink(info.FileAttributes, info.ReparseTag) ||
        (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// Hands `handle` to a QFile without a name: path-based calls on it would
// follow links again. The QFile closes the handle.
std::unique_ptr<QFile> adopt(HANDLE handle, QIODevice::OpenMode mode, QString* error)
{
    const int access = (mode & QIODevice::ReadWrite) == QIODevice::ReadWrite ? _O_RDWR
                       : mode & QIODevice::WriteOnly                         ? _O_WRONLY
                                                                             : _O_RDONLY;
    const int flags = _O_BINARY | access;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        ::CloseHandle(handle);
        fail(error, u"no file descriptor left"_s);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        fail(error, file->errorString());
        return nullptr;
    }
    return file;
}

bool isBusy(DWORD err)
{
    return err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED ||
           err == ERROR_LOCK_VIOLATION;
}

// Runs `call` (a Win32 call that replaces or removes `path`) again while the
// target is busy, and once more without the target's read-only attribute,
// which Windows lets stop a replacement or removal. The attribute comes back
// when the call still fails. Returns the last error, or NO_ERROR.
template <typename Call> DWORD replacing(const QString& path, Call call)
{
    DWORD err = call() ? NO_ERROR : ::GetLastError();
    const Entry target = entryAt(path);
    if (err == ERROR_ACCESS_DENIED && target.kind == Kind::File &&
        (target.attributes & FILE_ATTRIBUTE_READONLY)) {
        const std::wstring native = nativePath(path);
        if (::SetFileAttributesW(native.c_str(), target.attributes & ~FILE_ATTRIBUTE_READONLY)) {
            err = call() ? NO_ERROR : ::GetLastError();
            if (err != NO_ERROR)
                ::SetFileAttributesW(native.c_str(), target.attributes);
        }
    }
    for (int attempt = 0; isBusy(err) && attempt < busyRetries; ++attempt) {
        ::Sleep(busyPauseMs);
        err = call() ? NO_ERROR : ::GetLastError();
    }
    return err;
}

QString busyReason(const QString& path, DWORD err)
{
    if (!isBusy(err))
        return reason(path, err);
    return u"%1 is in use by another program or protected (%2)"_s.arg(
        QDir::toNativeSeparators(path), qt_error_string(int(err)));
}

} // namespace

std::unique_ptr<QFile> gamedir::openPlainFile(const QString& path, QIODevice::OpenMode mode,
                                              QString* error)
{
    const HANDLE handle =
        openExisting(path, mode & QIODevice::WriteOnly ? GENERIC_WRITE : GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) {
        const QString why = busyReason(path, ::GetLastError());
        fail(error, explain(entryAt(path).kind, Kind::File, path, why));
        return nullptr;
    }
    return adopt(handle, mode, error);
}

QString gamedir::storedName(const QString& path)
{
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileExW(nativePath(path).c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return {};
    ::FindClose(find);
    return QString::fromWCharArray(data.cFileName);
}

bool gamedir::syncFile(QFile& file)
{
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle);
}

GameDir::GameDir(QString root, QString path) : m_root(std::move(root)), m_path(std::move(path)) {}
GameDir::GameDir(GameDir&&) noexcept = default;
GameDir& GameDir::operator=(GameDir&&) noexcept = default;
GameDir::~GameDir() = default;

bool GameDir::chainIsPlain(QString* error) const
{
    QString at = m_root;
    for (const QString& part : m_path.mid(m_root.size()).split(u'/', Qt::SkipEmptyParts)) {
        at += u'/';
        at += part;
        const Kind kind = entryAt(at).kind;
        if (kind != Kind::Folder)
            return fail(error, explain(kind, Kind::Folder, at, {}));
    }
    return true;
}

std::optional<GameDir> GameDir::openRoot(const QString& gameFolder, QString* error)
{
    const QString path = QDir::cleanPath(QFileInfo(gameFolder).absoluteFilePath());
    if (!QFileInfo(path).isDir()) {
        fail(error, u"%1 is not a folder"_s.arg(QDir::toNativeSeparators(path)));
        return std::nullopt;
    }
    return GameDir(path, path);
}

std::optional<GameDir> GameDir::duplicate(QString*) const
{
    return GameDir(m_root, m_path);
}

std::optional<GameDir> GameDir::openChild(const QString& name, QString* error) const
{
    if (!chainIsPlain(error))
        return std::nullopt;
    const Kind kind = kindOf(name);
    if (kind != Kind::Folder) {
        fail(error, explain(kind, Kind::Folder, pathOf(name), {}));
        return std::nullopt;
    }
    return GameDir(m_root, pathOf(name));
}

bool GameDir::makeFolder(const QString& name, QString* error) const
{
    if (!chainIsPlain(error))
        return false;
    if (::CreateDirectoryW(nativePath(pathOf(name)).c_str(), nullptr))
        return true;
    return fail(error, reason(pathOf(name), ::GetLastError()));
}

GameDir::Kind GameDir::kindOf(const QString& name) const
{
    return validName(name) ? entryAt(pathOf(name)).kind : Kind::Other;
}

std::unique_ptr<QFile> GameDir::create(const QString& name,
                                       std::optional<QFileDevice::Permissions> perms,
                                       QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return nullptr;
    }
    if (!chainIsPlain(error))
        return nullptr;
    // CREATE_NEW fails on any existing name, a link included. Sharing deletion
    // lets the finished file be renamed while this handle is still open.
    const HANDLE handle =
        ::CreateFileW(nativePath(pathOf(name)).c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fail(error, reason(pathOf(name), ::GetLastError()));
        return nullptr;
    }
    // Windows keeps one permission bit: read-only, when nobody may write.
    constexpr auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteUser |
                              QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (perms && !(*perms & anyWrite)) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
        if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
            fail(error, reason(pathOf(name), ::GetLastError()));
            ::CloseHandle(handle);
            ::DeleteFileW(nativePath(pathOf(name)).c_str());
            return nullptr;
        }
    }
    auto file = adopt(handle, QIODevice::ReadWrite, error);
    if (!file)
        removeFile(name);
    return file;
}

std::unique_ptr<QFile> GameDir::openForAppend(const QString& name, QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return nullptr;
    }
    if (!chainIsPlain(error))
        return nullptr;
    auto file = openPlainFile(pathOf(name), QIODevice::WriteOnly | QIODevice::Append, error);
    if (file && !file->seek(file->size())) {
        fail(error, file->errorString());
        return nullptr;
    }
    return file;
}

std::optional<QFileDevice::Permissions> GameDir::permissionsOf(const QString& name) const
{
    if (kindOf(name) != Kind::File)
        return std::nullopt;
    return QFileInfo(pathOf(name)).permissions();
}

bool GameDir::rename(const QString& from, const QString& to, QString* error) const
{
    if (!validName(from) || !validName(to))
        return fail(error, invalidName(validName(from) ? to : from));
    if (!chainIsPlain(error))
        return false;
    // Replacing a link replaces the link itself, not its target.
    const std::wstring source = nativePath(pathOf(from));
    const std::wstring target = nativePath(pathOf(to));
    const DWORD err = replacing(pathOf(to), [&] {
        return ::MoveFileExW(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    });
    return err == NO_ERROR || fail(error, busyReason(pathOf(to), err));
}

bool GameDir::removeFile(const QString& name) const
{
    const Entry entry = validName(name) ? entryAt(pathOf(name)) : Entry{Kind::Other, 0};
    if (entry.kind == Kind::Folder || entry.kind == Kind::Missing || !validName(name) ||
        !chainIsPlain(nullptr))
        return false;
    const std::wstring path = nativePath(pathOf(name));
    // A link to a folder (or a junction) is removed as a folder; its target stays.
    const bool asFolder = entry.kind == Kind::Link && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
    return replacing(pathOf(name), [&] {
               return asFolder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
           }) == NO_ERROR;
}

bool GameDir::removeEmptyFolder(const QString& name) const
{
    return kindOf(name) == Kind::Folder && chainIsPlain(nullptr) &&
           ::RemoveDirectoryW(nativePath(pathOf(name)).c_str());
}

QStringList GameDir::entries() const
{
    return QDir(m_path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool GameDir::sync() const
{
    return true; // Windows journals folder entries itself.
}

std::optional<QByteArray> GameDir::readFile(const QString& name, qint64 maxBytes,
                                            QString* error) const
{
    if (!validName(name)) {
        fail(error, invalidName(name));
        return std::nullopt;
    }
    if (!chainIsPlain(error))
        return std::nullopt;
    const auto in = openPlainFile(pathOf(name), QIODevice::ReadOnly, error);
    if (!in)
        return std::nullopt;
    const QByteArray bytes = in->read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        fail(error, u"%1 is larger than %2 bytes"_s.arg(QDir::toNativeSeparators(pathOf(name)),
                                                        QString::number(maxBytes)));
        return std::nullopt;
    }
    return bytes;
}

#endif
