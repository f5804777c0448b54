#include "InstallJournal.h"

#include "FileSync.h"
#include "UpdateRules.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <filesystem>

using namespace Qt::StringLiterals;

namespace installjournal {

namespace {

constexpr QByteArrayView Header = "quorvane-install-journal 1";

QString pathOf(const QString& gameFolder, const QString& relative)
{
    return gameFolder + u'/' + relative;
}

// A relative path the journal may name: inside the game folder, no climbing.
bool isSafeRelative(const QString& relative)
{
    const QStringList segments = updaterules::pathSegments(relative);
    if (segments.isEmpty() || relative.startsWith(u'/') || relative.contains(u'\\'))
        return false;
    return !updaterules::isUnsafeEntry(QString(), relative);
}

std::optional<QList<Entry>> read(const QString& gameFolder, bool* malformed)
{
    QFile file(pathOf(gameFolder, FileName.toString()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    QList<Entry> entries;
    *malformed = lines.isEmpty() || lines.front() != Header;
    for (qsizetype i = 1; i < lines.size() && !*malformed; ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const QList<QByteArray> fields = lines.at(i).split('\t');
        bool ok = false;
        Entry entry;
        if (fields.size() == 3) {
            entry.size = fields.at(0).toLongLong(&ok);
            entry.part = QString::fromUtf8(fields.at(1));
            entry.target = QString::fromUtf8(fields.at(2));
        }
        *malformed = !ok || !isSafeRelative(entry.part) || !isSafeRelative(entry.target);
        entries.append(entry);
    }
    return entries;
}

qint64 regularFileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() ? info.size() : -1;
}

} // namespace

bool write(const QString& gameFolder, const QList<Entry>& entries, QString* error)
{
    QByteArray text = Header.toByteArray() + '\n';
    for (const Entry& entry : entries)
        text += QByteArray::number(entry.size) + '\t' + entry.part.toUtf8() + '\t' +
                entry.target.toUtf8() + '\n';
    QSaveFile file(pathOf(gameFolder, FileName.toString()));
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return filesync::syncFolders({gameFolder}).isEmpty();
}

void remove(const QString& gameFolder)
{
    QFile::remove(pathOf(gameFolder, FileName.toString()));
    filesync::syncFolders({gameFolder});
}

Recovery recover(const QString& gameFolder)
{
    bool malformed = false;
    const std::optional<QList<Entry>> entries = read(gameFolder, &malformed);
    if (!entries)
        return Recovery::Nothing;
    QList<const Entry*> pending;
    bool missing = malformed;
    for (const Entry& entry : *entries) {
        if (malformed)
            break;
        if (regularFileSize(pathOf(gameFolder, entry.part)) == entry.size)
            pending.append(&entry);
        else if (regularFileSize(pathOf(gameFolder, entry.target)) != entry.size)
            missing = true; // neither waiting nor in place: lost
    }
    if (missing) {
        for (const Entry& entry : *entries) {
            if (isSafeRelative(entry.part))
                QFile::remove(pathOf(gameFolder, entry.part));
        }
        remove(gameFolder);
        return Recovery::RolledBack;
    }
    QStringList folders;
    for (const Entry* entry : pending) {
        std::error_code failed;
        std::filesystem::rename(QFile(pathOf(gameFolder, entry->part)).filesystemFileName(),
                                QFile(pathOf(gameFolder, entry->target)).filesystemFileName(),
                                failed);
        folders.append(QFileInfo(pathOf(gameFolder, entry->target)).path());
    }
    folders.removeDuplicates();
    filesync::syncFolders(folders);
    remove(gameFolder);
    return Recovery::Completed;
}

} // namespace installjournal
