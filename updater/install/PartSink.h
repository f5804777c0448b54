#pragma once

#include "BodyWriter.h"
#include "FileOutput.h"
#include "ResumablePart.h"
#include "StagedFiles.h"
#include "Transfer.h"

#include <QStringList>

#include <functional>
#include <optional>

// Writes one game file's body to a part file beside its target, making the
// folders it needs; hands the finished part to the staged set, or removes it
// and the folders it made when the transfer fails. Given a writer, the bytes
// past the first WriteBehindFrom are written behind, on the writer's thread.
// A decoded form is written through a mapping of the part instead (openWhole).
class PartSink final : public transfer::BodySink, public delta::FileOutput
{
public:
    PartSink(StagedFiles& staged, const GameDir& root, QStringList folders, QString fileName,
             QString localName, BodyWriter* writer = nullptr);
    ~PartSink() override;

    // Small files are written at once: handing them over would cost more.
    static constexpr qint64 WriteBehindFrom = 1024 * 1024;

    bool open(const transfer::Head& head) override;
    bool write(const char* data, qint64 size) override;
    bool accepting(std::function<void()> ready) override;
    void whenWritten(std::function<void(bool)> done) override;
    QString errorString() const override;
    // A new part of exactly `size` bytes, its disk space taken, mapped.
    char* openWhole(const transfer::Head& head, qint64 size) override;
    std::shared_ptr<BodyWriter::Stream> decodeBehind(BodyWriter::Consumer consume) override;

    // The body is complete: the part joins the staged set.
    bool commit();

    // Continues the checked part file `name` (relative folder `folderPath`)
    // if the server sends the rest under the recorded `validator`; a whole
    // new body replaces it. A 206 under another validator, or a part that
    // changed meanwhile, is refused and the part removed at once.
    void resumeFrom(resumablepart::Opened part, QString folderPath, QString name,
                    QByteArray validator);
    // True once a continuation was refused: the file must start over whole.
    bool resumeRefused() const { return m_resumeRefused; }
    // True when this body was to continue a kept part.
    bool offeredResume() const { return m_offeredResume; }
    bool replay(const std::function<bool(const char*, qint64)>& feed) override;

    // The part file so far, kept on disk for a later resume: its folder
    // (relative) and name, and its size. Nothing when there is no part.
    struct Kept
    {
        QString folderPath;
        QString name;
        qint64 size = 0;
        QByteArray validator; // the server's for these bytes
    };
    std::optional<Kept> keep();
    // What keep() would keep, left in place. Bytes not yet written behind are
    // dropped first, so the size is the file's.
    std::optional<Kept> held();
    // Where the part file is being written (relative folder, name).
    const StagedFiles::Part& part() const { return m_part; }

private:
    StagedFiles& m_staged;
    const GameDir& m_root;
    QStringList m_folders;
    QString m_fileName;
    QString m_localName;
    StagedFiles::Part m_part;
    StagedFiles::Part m_resume; // without a file: where the earlier bytes are
    std::unique_ptr<QFile> m_resumeFile;
    QByteArray m_validator;
    bool m_resumeRefused = false;
    bool m_offeredResume = false;

    void dropResume();
    // The file is this sink's again: the writer is done with it.
    bool finishStream();
    void stopStream();

    BodyWriter* m_writer;
    std::shared_ptr<BodyWriter::Stream> m_stream;
    qint64 m_written = 0; // this attempt's bytes
    QStringList m_created;
    QString m_error;
};
