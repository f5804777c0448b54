#include "PartSink.h"

#include <limits>

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

void PartSink::resumeFrom(std::shared_ptr<GameDir> folder, QString folderPath, QString name)
{
    m_resume.folder = std::move(folder);
    m_resume.folderPath = std::move(folderPath);
    m_resume.name = std::move(name);
    m_resume.target = m_fileName;
}

bool PartSink::open(const transfer::Head& head)
{
    if (m_resume.folder && head.resumedAt >= 0) {
        m_part = std::move(m_resume);
        m_part.file = m_part.folder->openForAppend(m_part.name, &m_error);
        return m_part.file != nullptr;
    }
    if (m_resume.folder) // the server starts over: so do we
        m_resume.folder->removeFile(m_resume.name);
    m_resume = {};
    m_part = m_staged.createPart(m_folders, m_fileName, &m_created, &m_error);
    return m_part.file != nullptr;
}

bool PartSink::replay(const std::function<bool(const char*, qint64)>& feed)
{
    if (!m_part.folder)
        return false;
    // Any size: the body checks that read it judge its length.
    const std::unique_ptr<QFile> earlier =
        m_part.folder->openForReading(m_part.name, std::numeric_limits<qint64>::max());
    if (!earlier)
        return false;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (qint64 n; (n = earlier->read(buffer.data(), buffer.size())) > 0;) {
        if (!feed(buffer.constData(), n))
            return false;
    }
    return earlier->atEnd();
}

std::optional<PartSink::Kept> PartSink::keep()
{
    if (!m_part.file)
        return std::nullopt;
    Kept kept{m_part.folderPath, m_part.name, m_part.file->size()};
    m_part.file->close();
    m_part = {};
    m_created.clear(); // the folders hold the part now
    return kept;
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
