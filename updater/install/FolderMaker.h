#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Folders below the game folder, created on demand and removed again when the
// download that needed them fails.
class FolderMaker
{
public:
    explicit FolderMaker(QString base) : m_current(std::move(base)) {}
    ~FolderMaker();
    FolderMaker(const FolderMaker&) = delete;
    FolderMaker& operator=(const FolderMaker&) = delete;

    // Walks down `segments`; an existing folder whose name differs only in
    // letter case is used as spelled on disk.
    bool make(const QStringList& segments);

    const QString& folder() const { return m_current; }
    const std::vector<QString>& created() const { return m_created; }
    void keep() { m_keep = true; }

private:
    QString findFolderIgnoringCase(const QString& name) const;

    QString m_current;
    std::vector<QString> m_created;
    bool m_keep = false;
};
