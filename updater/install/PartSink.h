#pragma once

#include "StagedFiles.h"
#include "Transfer.h"

#include <QStringList>

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

private:
    StagedFiles& m_staged;
    const GameDir& m_root;
    QStringList m_folders;
    QString m_fileName;
    QString m_localName;
    StagedFiles::Part m_part;
    QStringList m_created;
    QString m_error;
};
