#pragma once

#include "StagedFiles.h"
#include "Transfer.h"

#include <QStringList>

#include <functional>
#include <optional>

// Writes one game file's body to a part file beside its target, making the
// folders it needs; hands the finished part to the staged set, or removes it
// and the folders it made when the transfer fails.
class PartSink final : public transfer::BodySink
{
public:
    PartSink(StagedFiles& staged, const GameDir& root, QStringList folders, QString fileName,
             QString localName);
    ~PartSink() override;

    bool open(const transfer::Head& head) override;
    bool write(const char* data, qint64 size) override;
    QString errorString() const override { return m_error; }

    // The body is complete: the part joins the staged set.
    bool commit();

    // Continues the part file `name` in `folder` (relative `folderPath`) if
    // the server sends the rest; a whole new body replaces it.
    void resumeFrom(std::shared_ptr<GameDir> folder, QString folderPath, QString name);
    bool replay(const std::function<bool(const char*, qint64)>& feed) override;

    // The part file so far, kept on disk for a later resume: its folder
    // (relative) and name, and its size. Nothing when there is no part.
    struct Kept
    {
        QString folderPath;
        QString name;
        qint64 size = 0;
    };
    std::optional<Kept> keep();
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
    QStringList m_created;
    QString m_error;
};
