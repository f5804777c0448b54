#include "ScratchFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace testsupport {

ScratchFolder::ScratchFolder() = default;

QString ScratchFolder::file(const QString& relative) const
{
    return m_dir.filePath(relative);
}

bool ScratchFolder::write(const QString& relative, const QByteArray& bytes) const
{
    const QString target = file(relative);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    QFile out(target);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
}

QByteArray ScratchFolder::read(const QString& relative) const
{
    QFile in(file(relative));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

bool ScratchFolder::exists(const QString& relative) const
{
    return QFileInfo::exists(file(relative));
}

bool ScratchFolder::isDir(const QString& relative) const
{
    return QFileInfo(file(relative)).isDir();
}

QMap<QString, QByteArray> ScratchFolder::snapshot() const
{
    QMap<QString, QByteArray> entries;
    const QDir root(m_dir.path());
    QDirIterator it(m_dir.path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString relative = root.relativeFilePath(info.filePath());
        if (m_ignored.contains(info.fileName()))
            continue;
        if (info.isDir())
            entries.insert(relative + u'/', QByteArray());
        else
            entries.insert(relative, read(relative));
    }
    return entries;
}

} // namespace testsupport
