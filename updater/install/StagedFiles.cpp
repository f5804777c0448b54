#include "StagedFiles.h"

#include "FileSync.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <filesystem>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView PartMarker = u".part-";

} // namespace

bool StagedFiles::isPartName(QStringView name)
{
    const qsizetype marker = name.lastIndexOf(PartMarker);
    if (!name.startsWith(u'.') || marker < 2 || name.size() - marker != PartMarker.size() + 6)
        return false;
    for (QChar c : name.last(6)) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

StagedFiles::Part StagedFiles::createPart(const QString& target)
{
    Part part{nullptr, target};
    QFileInfo info(target);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth) {
        part.target = info.symLinkTarget();
        info.setFile(part.target);
    }
    if (info.isDir())
        return part;
    const QString folder = info.path();
    if (!m_swept.contains(folder)) {
        m_swept.insert(folder);
        sweep(folder);
    }
    const QString prefix = folder + u'/' + u'.' + info.fileName() + PartMarker;
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto file = std::make_unique<QFile>(prefix + randomSuffix());
        // Not QTemporaryFile: its files are private to the owner, game files are not.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (info.exists()) {
                const QFileDevice::Permissions mode = info.permissions();
                if (mode != QFileDevice::Permissions())
                    file->setPermissions(mode);
            }
            m_ownNames.insert(QFileInfo(file->fileName()).fileName());
            part.file = std::move(file);
            return part;
        }
        if (!file->exists())
            break; // not a name clash: the folder refuses
    }
    return part;
}

void StagedFiles::add(Part part, const QString& localName, const std::vector<QString>& folders)
{
    part.file->close();
    Staged staged{part.file->fileName(), part.target, localName};
    const auto earlier = m_byTarget.constFind(part.target);
    if (earlier != m_byTarget.cend()) {
        QFile::remove(m_parts[*earlier].path);
        m_parts[*earlier] = std::move(staged);
    } else {
        m_byTarget.insert(part.target, m_parts.size());
        m_parts.push_back(std::move(staged));
    }
    m_folders.insert(m_folders.end(), folders.begin(), folders.end());
}

QStringList StagedFiles::install()
{
    QStringList paths;
    for (const Staged& part : m_parts)
        paths.append(part.path);
    QStringList failed = localNamesOf(filesync::syncFiles(paths));
    for (const Staged& part : m_parts) {
        if (QFileInfo(part.target).isDir())
            failed.append(part.localName);
    }
    if (!failed.isEmpty()) {
        discard();
        return failed;
    }

    QStringList folders;
    QSet<QString> listed;
    const auto listFolder = [&](const QString& folder) {
        if (!listed.contains(folder)) {
            listed.insert(folder);
            folders.append(folder);
        }
    };
    for (const Staged& part : m_parts) {
        std::error_code error;
        std::filesystem::rename(QFile(part.path).filesystemFileName(),
                                QFile(part.target).filesystemFileName(), error);
        if (error) {
            // Another program holds the file (Windows): the rest still go in.
            QFile::remove(part.path);
            failed.append(part.localName);
            continue;
        }
        listFolder(QFileInfo(part.target).path());
    }
    // The folders made this run must be durable in their parents too.
    for (const QString& made : m_folders)
        listFolder(QFileInfo(made).path());
    for (const QString& folder : filesync::syncFolders(folders)) {
        const auto in = std::find_if(m_parts.cbegin(), m_parts.cend(), [&](const Staged& part) {
            return QFileInfo(part.target).path() == folder;
        });
        failed.append(in != m_parts.cend() ? in->localName : folder);
    }
    m_parts.clear();
    m_byTarget.clear();
    m_folders.clear();
    return failed;
}

void StagedFiles::discard()
{
    for (const Staged& part : m_parts)
        QFile::remove(part.path);
    m_parts.clear();
    m_byTarget.clear();
    for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
        QDir().rmdir(*it); // only when empty: something else may have moved in
    m_folders.clear();
}

QString StagedFiles::randomSuffix()
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix(6, Qt::Uninitialized);
    for (QChar& c : suffix)
        c = QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
    return suffix;
}

// Part files left by a run that crashed or lost its power. Ours are
// spared: a link can lead to a folder already used under another name.
void StagedFiles::sweep(const QString& folder) const
{
    const QStringList names =
        QDir(folder).entryList({u".*.part-??????"_s}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (isPartName(name) && !m_ownNames.contains(name))
            QFile::remove(folder + u'/' + name);
    }
}

QStringList StagedFiles::localNamesOf(const QStringList& paths) const
{
    const QSet<QString> wanted(paths.cbegin(), paths.cend());
    QStringList names;
    for (const Staged& part : m_parts) {
        if (wanted.contains(part.path))
            names.append(part.localName);
    }
    return names;
}
