#include "StagedFiles.h"

#include "FileSync.h"
#include "InstallJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <filesystem>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView PartPrefix = u".qvpart-";
constexpr int SuffixLength = 8;
constexpr QStringView OldPartMarker = u".part-";

bool isAlphanumeric(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

bool renameOver(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::rename(QFile(from).filesystemFileName(), QFile(to).filesystemFileName(),
                            error);
    return !error;
}

} // namespace

bool StagedFiles::isPartName(QStringView name)
{
    if (name.startsWith(PartPrefix))
        return name.size() == PartPrefix.size() + SuffixLength &&
               isAlphanumeric(name.last(SuffixLength));
    const qsizetype marker = name.lastIndexOf(OldPartMarker);
    return name.startsWith(u'.') && marker >= 2 &&
           name.size() - marker == OldPartMarker.size() + 6 && isAlphanumeric(name.last(6));
}

QString StagedFiles::randomSuffix()
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix(SuffixLength, Qt::Uninitialized);
    for (QChar& c : suffix)
        c = QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
    return suffix;
}

StagedFiles::Part StagedFiles::createPart(const QString& target)
{
    Part part{nullptr, target};
    const QFileInfo info(target);
    if (info.isDir() && !info.isSymLink())
        return part;
    const QString folder = info.path();
    if (!m_swept.contains(folder)) {
        m_swept.insert(folder);
        sweep(folder);
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto file = std::make_unique<QFile>(folder + u'/' + PartPrefix + randomSuffix());
        // Not QTemporaryFile: its files are private to the owner, game files are not.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (info.isFile() && !info.isSymLink()) {
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
    Staged staged{part.file->fileName(), part.target, localName, part.file->size()};
    part.file->close();
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

bool StagedFiles::stageManifest(const QByteArray& bytes)
{
    Part part = createPart(m_gameFolder + u"/info.ini"_s);
    if (!part.file || part.file->write(bytes) != bytes.size()) {
        if (part.file)
            part.file->remove();
        return false;
    }
    m_manifest = Staged{part.file->fileName(), part.target, u"info.ini"_s, bytes.size()};
    part.file->close();
    return true;
}

QString StagedFiles::relative(const QString& path) const
{
    return QDir(m_gameFolder).relativeFilePath(path);
}

bool StagedFiles::writeJournal()
{
    QList<installjournal::Entry> entries;
    for (const Staged& part : m_parts)
        entries.append({relative(part.path), relative(part.target), part.size});
    if (m_manifest)
        entries.append(
            {relative(m_manifest->path), relative(m_manifest->target), m_manifest->size});
    return installjournal::write(m_gameFolder, entries);
}

QStringList StagedFiles::install()
{
    QStringList paths;
    for (const Staged& part : m_parts)
        paths.append(part.path);
    if (m_manifest)
        paths.append(m_manifest->path);
    QStringList failed = localNamesOf(filesync::syncFiles(paths));
    for (const Staged& part : m_parts) {
        const QFileInfo target(part.target);
        if (target.isDir() && !target.isSymLink())
            failed.append(part.localName);
    }
    if (failed.isEmpty() && !writeJournal())
        failed.append(installjournal::FileName.toString());
    if (!failed.isEmpty()) {
        discard();
        return failed;
    }

    QStringList folders;
    for (const Staged& part : m_parts) {
        if (!renameOver(part.path, part.target)) {
            // Another program holds the file (Windows): the rest still go in.
            QFile::remove(part.path);
            failed.append(part.localName);
            continue;
        }
        folders.append(QFileInfo(part.target).path());
    }
    // The folders made this run must be durable in their parents too.
    for (const QString& made : m_folders)
        folders.append(QFileInfo(made).path());
    folders.removeDuplicates();
    for (const QString& folder : filesync::syncFolders(folders))
        failed.append(folder);
    // The manifest says the set is installed: only when all of it is.
    if (m_manifest) {
        if (!failed.isEmpty() || !renameOver(m_manifest->path, m_manifest->target)) {
            QFile::remove(m_manifest->path);
            failed.append(m_manifest->localName);
        } else if (!filesync::syncFolders({m_gameFolder}).isEmpty()) {
            failed.append(m_manifest->localName);
        }
    }
    installjournal::remove(m_gameFolder);
    m_parts.clear();
    m_manifest.reset();
    m_byTarget.clear();
    m_folders.clear();
    return failed;
}

void StagedFiles::discard()
{
    for (const Staged& part : m_parts)
        QFile::remove(part.path);
    if (m_manifest)
        QFile::remove(m_manifest->path);
    m_manifest.reset();
    m_parts.clear();
    m_byTarget.clear();
    for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
        QDir().rmdir(*it); // only when empty: something else may have moved in
    m_folders.clear();
}

// Part files left by a run that crashed or lost its power. Ours are spared.
void StagedFiles::sweep(const QString& folder) const
{
    const QStringList names = QDir(folder).entryList({PartPrefix + u'*', u".*.part-??????"_s},
                                                     QDir::Files | QDir::Hidden | QDir::System);
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
    if (m_manifest && wanted.contains(m_manifest->path))
        names.append(m_manifest->localName);
    return names;
}
