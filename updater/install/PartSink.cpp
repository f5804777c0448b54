#include "PartSink.h"

#include "FileSync.h"

#include <limits>

using namespace Qt::StringLiterals;

PartSink::PartSink(StagedFiles& staged, const GameDir& root, QStringList folders, QString fileName,
                   QString localName, BodyWriter* writer)
    : m_staged(staged), m_root(root), m_folders(std::move(folders)),
      m_fileName(std::move(fileName)), m_localName(std::move(localName)), m_writer(writer)
{}

PartSink::~PartSink()
{
    stopStream();
    if (m_part.file)
        m_part.folder->removeFile(m_part.name);
    dropResume(); // a continuation never taken up is not kept
    StagedFiles::removeFolders(m_root, m_created);
}

void PartSink::resumeFrom(resumablepart::Opened part, QString folderPath, QString name,
                          QByteArray validator)
{
    m_resume.folder = std::move(part.folder);
    m_resume.folderPath = std::move(folderPath);
    m_resume.name = std::move(name);
    m_resume.target = m_fileName;
    m_resumeFile = std::move(part.file);
    m_validator = std::move(validator);
    m_offeredResume = true;
}

void PartSink::dropResume()
{
    m_resumeFile.reset();
    if (m_resume.folder)
        m_resume.folder->removeFile(m_resume.name);
    m_resume = {};
}

bool PartSink::open(const transfer::Head& head)
{
    if (m_resume.folder && head.resumedAt >= 0) {
        if (head.validator != m_validator ||
            !resumablepart::isSinglePlainFile(*m_resumeFile, head.resumedAt)) {
            m_error = u"the 206 is not the rest of the bytes kept (validator %1, kept %2)"_s.arg(
                QString::fromLatin1(head.validator.left(80)),
                QString::fromLatin1(m_validator.left(80)));
            m_resumeRefused = true;
            dropResume();
            return false;
        }
        m_part = std::move(m_resume);
        m_part.file = std::move(m_resumeFile);
        m_resume = {};
        return true;
    }
    dropResume(); // the server starts over: so do we
    m_validator = head.validator;
    m_part = m_staged.createPart(m_folders, m_fileName, &m_created, &m_error);
    return m_part.file != nullptr;
}

char* PartSink::openWhole(const transfer::Head& head, qint64 size)
{
    transfer::Head fresh = head;
    fresh.resumedAt = -1;
    if (!open(fresh))
        return nullptr;
    if (const Result reserved = filesync::reserve(*m_part.file, size); !reserved) {
        m_error = reserved.reason;
        return nullptr;
    }
    if (const Result filled = filesync::prefill(*m_part.file, size); !filled) {
        m_error = filled.reason;
        return nullptr;
    }
    // Asking the size also refreshes what Qt knows of it before the mapping.
    uchar* bytes = m_part.file->size() == size ? m_part.file->map(0, size) : nullptr;
    if (!bytes)
        m_error = m_part.file->errorString();
    return reinterpret_cast<char*>(bytes);
}

std::shared_ptr<BodyWriter::Stream> PartSink::decodeBehind(BodyWriter::Consumer consume)
{
    if (!m_writer || !m_part.file)
        return nullptr;
    stopStream();
    m_stream = m_writer->open(std::move(consume));
    return m_stream;
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

std::optional<PartSink::Kept> PartSink::held()
{
    stopStream();
    if (m_part.file)
        return Kept{m_part.folderPath, m_part.name, m_part.file->size(), m_validator};
    if (m_resumeFile) // never continued: still there for a later try
        return Kept{m_resume.folderPath, m_resume.name, m_resumeFile->size(), m_validator};
    return std::nullopt;
}

std::optional<PartSink::Kept> PartSink::keep()
{
    std::optional<Kept> kept = held();
    if (!kept)
        return std::nullopt;
    if (m_part.file)
        m_part.file->close();
    m_part = {};
    m_resumeFile.reset();
    m_resume = {};
    m_created.clear(); // the folders hold the part now
    return kept;
}

bool PartSink::write(const char* data, qint64 size)
{
    m_written += size;
    if (!m_stream && m_writer && m_written > WriteBehindFrom)
        m_stream = m_writer->open(*m_part.file);
    if (m_stream)
        return m_stream->put(data, size);
    if (m_part.file->write(data, size) == size)
        return true;
    m_error = m_part.file->errorString();
    return false;
}

bool PartSink::accepting(std::function<void()> ready)
{
    return BodyWriter::Stream::accepting(m_stream, std::move(ready));
}

void PartSink::whenWritten(std::function<void(bool)> done)
{
    BodyWriter::Stream::whenWritten(m_stream, std::move(done));
}

QString PartSink::errorString() const
{
    return BodyWriter::Stream::errorOr(m_stream, m_error);
}

bool PartSink::finishStream()
{
    if (!m_stream)
        return true;
    const bool written = m_stream->drain();
    if (!written)
        m_error = m_stream->error();
    m_stream.reset();
    return written;
}

void PartSink::stopStream()
{
    if (m_stream)
        m_stream->abandon();
    m_stream.reset();
}

bool PartSink::commit()
{
    if (!finishStream())
        return false;
    if (!m_part.file && !open({}))
        return false;
    m_staged.add(std::move(m_part), m_localName, m_created);
    m_part = {};
    m_created.clear();
    return true;
}
