#include "GameFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace gamefolder {

QString path()
{
    QString folder = QCoreApplication::applicationDirPath();
    // A program in a root folder still gets no closing separator: callers
    // append one with every name.
    while (folder.endsWith(u'/') || folder.endsWith(u'\\'))
        folder.chop(1);
    return folder;
}

bool plainFileExists(const QString& filePath)
{
    if (filePath.isEmpty())
        return false;
    return QFileInfo(filePath).isFile();
}

} // namespace gamefolder
