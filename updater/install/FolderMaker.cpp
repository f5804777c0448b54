#include "FolderMaker.h"

#include <QDir>
#include <QFileInfo>

FolderMaker::~FolderMaker()
{
    if (m_keep)
        return;
    for (auto it = m_created.crbegin(); it != m_created.crend(); ++it)
        QDir().rmdir(*it);
}

bool FolderMaker::make(const QStringList& segments)
{
    for (const QString& segment : segments) {
        const QString exact = m_current + u'/' + segment;
        if (QFileInfo(exact).isDir()) {
            m_current = exact;
            continue;
        }
        const QString existing = findFolderIgnoringCase(segment);
        if (!existing.isEmpty()) {
            m_current += u'/' + existing;
            continue;
        }
        if (QFileInfo::exists(exact) || !QDir(m_current).mkdir(segment))
            return false;
        m_created.push_back(exact);
        m_current = exact;
    }
    return true;
}

QString FolderMaker::findFolderIgnoringCase(const QString& name) const
{
    const QStringList entries =
        QDir(m_current).entryList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}
