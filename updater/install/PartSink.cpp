#include "PartSink.h"

PartSink::PartSink(StagedFiles& staged, const QString& gameFolder, QStringList folders,
                   QString fileName, QString localName)
    : m_staged(staged), m_maker(gameFolder), m_folders(std::move(folders)),
      m_fileName(std::move(fileName)), m_localName(std::move(localName))
{}

PartSink::~PartSink()
{
    if (m_part.file)
        m_part.file->remove();
}

bool PartSink::open(const transfer::Head&)
{
    if (!m_maker.make(m_folders)) {
        m_error = QStringLiteral("cannot make the folder for %1").arg(m_localName);
        return false;
    }
    m_part = m_staged.createPart(m_maker.folder() + u'/' + m_fileName);
    if (!m_part.file) {
        m_error = QStringLiteral("cannot create a part file for %1").arg(m_localName);
        return false;
    }
    return true;
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
    m_staged.add(std::move(m_part), m_localName, m_maker.created());
    m_part = {};
    m_maker.keep();
    return true;
}
