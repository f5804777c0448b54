#include "PartSink.h"

PartSink::PartSink(StagedFiles& staged, const GameDir& root, QStringList folders, QString fileName,
                   QString localName)
    : m_staged(staged), m_root(root), m_folders(std::move(folders)),
      m_fileName(std::move(fileName)), m_localName(std::move(localName))
{}

PartSink::~PartSink()
{
    if (m_part.file)
        m_part.folder->removeFile(m_part.name);
    StagedFiles::removeFolders(m_root, m_created);
}

bool PartSink::open(const transfer::Head&)
{
    m_part = m_staged.createPart(m_folders, m_fileName, &m_created, &m_error);
    return m_part.file != nullptr;
}

bool PartSink::write(const char* data, qint64 size)
{
    if (m_part.file->write(data, size) == size)
        return true;
    m_error = m_part.file->errorString();
    return false;
}

bool PartSink::commit()
{
    if (!m_part.file && !open({}))
        return false;
    m_staged.add(std::move(m_part), m_localName, m_created);
    m_part = {};
    m_created.clear();
    return true;
}
