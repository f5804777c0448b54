// GameDir on Windows: the same rules, checked on paths.

#include "GameDir.h"
#include "GameDirInternal.h"

#include <QtGlobal>

#ifdef Q_OS_WIN

#include <QDir>
#include <QFileInfo>

#include <io.h>
#include <string>
#include <utility>
#include <windows.h>

using namespace Qt::StringLiterals;
using namespace gamedir;

// Windows: the same rules checked on paths. Before each use every component
// from the game folder down is checked not to be a link or junction. What
// remains is a race: a link swapped in between that check and the use of the
// path is followed. Closing it needs handle-relative opens, which this does not do.

namespace {

using Kind = GameDir::Kind;

bool isLink(const QFileInfo& info)
{
    return info.isSymLink() || info.isJunction();
}

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

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
        const QFileInfo info(at);
        if (isLink(info) || !info.isDir())
            return fail(error,
                        explain(isLink(info) ? Kind::Link : Kind::Other, Kind::Folder, at, {}));
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
    if (chainIsPlain(error) && QDir(m_path).mkdir(name))
        return true;
    return fail(error, u"%1 could not be created"_s.arg(QDir::toNativeSeparators(pathOf(name))));
}

GameDir::Kind GameDir::kindOf(const QString& name) const
{
    if (!validName(name))
        return Kind::Other;
    const QFileInfo info(pathOf(name));
    if (isLink(info))
        return Kind::Link;
    if (!info.exists())
        return Kind::Missing;
    if (info.isDir())
        return Kind::Folder;
    return info.isFile() ? Kind::File : Kind::Other;
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
    // NewOnly creates with CREATE_NEW, which fails on any existing name, a link included.
    auto file = std::make_unique<QFile>(pathOf(name));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered) ||
        (perms && !file->setPermissions(*perms))) {
        fail(error, file->errorString());
        return nullptr;
    }
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
    if (kindOf(name) != Kind::File) {
        fail(error, pathOf(name) + QStringLiteral(": not a regular file"));
        return nullptr;
    }
    auto file = std::make_unique<QFile>(pathOf(name));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
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
    if (!::MoveFileExW(nativePath(pathOf(from)).c_str(), nativePath(pathOf(to)).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(error, u"%1: %2"_s.arg(QDir::toNativeSeparators(pathOf(to)),
                                           qt_error_string(int(::GetLastError()))));
    return true;
}

bool GameDir::removeFile(const QString& name) const
{
    const Kind kind = kindOf(name);
    if (kind == Kind::Folder || kind == Kind::Missing || !chainIsPlain(nullptr))
        return false;
    const std::wstring path = nativePath(pathOf(name));
    // A link to a folder (or a junction) is removed as a folder; its target stays.
    if (kind == Kind::Link && QFileInfo(pathOf(name)).isDir())
        return ::RemoveDirectoryW(path.c_str());
    return ::DeleteFileW(path.c_str());
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
    const Kind kind = kindOf(name);
    QFile in(pathOf(name));
    if (kind != Kind::File || !in.open(QIODevice::ReadOnly)) {
        fail(error, explain(kind, Kind::File, pathOf(name), in.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = in.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        fail(error, u"%1 is larger than %2 bytes"_s.arg(QDir::toNativeSeparators(pathOf(name)),
                                                        QString::number(maxBytes)));
        return std::nullopt;
    }
    return bytes;
}

#endif
