#include "FormAttempts.h"

#include "GameDir.h"
#include "Sha256.h"
#include "UpdateRules.h"

using namespace Qt::StringLiterals;

namespace delta {

FormAttempts::FormAttempts(const GameDir& root, const ManifestEntry& entry,
                           const std::function<bool()>& stop)
    : m_entry(entry)
{
    std::optional<QByteArray> localHash;
    if (offersPatch(entry)) {
        copyPlayersFile(root, stop);
        if (m_reference)
            localHash = m_reference->sha256();
    }
    m_steps = chooseForms(entry, localHash);
    const bool patching = !m_steps.isEmpty() && m_steps.first() &&
                          m_steps.first()->kind == verify::PackedForm::Kind::Patch;
    if (!patching) // nothing to apply a patch to: the copy goes
        m_reference.reset();
}

FormAttempts::~FormAttempts() = default;

void FormAttempts::copyPlayersFile(const GameDir& root, const std::function<bool()>& stop)
{
    QStringList folders = updaterules::pathSegments(m_entry.FilePath);
    folders.append(updaterules::pathSegments(m_entry.FileName));
    const QString name = folders.takeLast();
    if (const std::optional<GameDir> folder = root.openSub(folders, false))
        m_reference = ReferenceCopy::make(*folder, name, stop);
}

QUrl FormAttempts::url(const QString& baseUrl, const QUrl& plainUrl) const
{
    if (onPlain())
        return plainUrl;
    return QUrl(baseUrl + verify::packedFormPath(*current()), QUrl::TolerantMode);
}

transfer::BodySink& FormAttempts::sinkFor(transfer::BodySink& file, FileOutput& whole,
                                          transfer::Validators& checks)
{
    m_decoder.reset();
    if (onPlain())
        return file;
    const verify::PackedForm& form = *current();
    const bool patch = form.kind == verify::PackedForm::Kind::Patch;
    m_decoder = std::make_unique<DecodingSink>(
        whole, patch && m_reference ? m_reference->bytes() : QByteArrayView(),
        DecodingSink::Expected{*m_entry.FileSize, *m_entry.FileHash});
    checks.clear();
    checks.push_back(std::make_unique<transfer::ExpectedFile>(form.size, form.sha256));
    checks.push_back(m_decoder->resultCheck());
    return *m_decoder;
}

QString FormAttempts::fallBack(const QString& reason)
{
    const QString failed = describe(current());
    if (m_at + 1 < m_steps.size())
        ++m_at;
    m_decoder.reset();
    if (onPlain() || current()->kind != verify::PackedForm::Kind::Patch)
        m_reference.reset();
    return u"file %1: the %2 failed (%3); fetching the %4 instead"_s.arg(
        m_entry.FileName, failed, reason, describe(current()));
}

} // namespace delta
