#include "FormAttempts.h"

#include "GameDir.h"
#include "Sha256.h"
#include "UpdateRules.h"

#include <QFile>

#include <limits>

using namespace Qt::StringLiterals;

namespace delta {

namespace {
constexpr qint64 AnySize = std::numeric_limits<qint64>::max();
}

FormAttempts::FormAttempts(const GameDir& root, const ManifestEntry& entry) : m_entry(entry)
{
    std::optional<QByteArray> localHash;
    if (offersPatch(entry)) {
        readPlayersCopy(root, entry);
        if (m_old) {
            localHash = verify::Sha256::hash(m_reference);
        }
    }
    m_steps = chooseForms(entry, localHash);
    const bool patching = !m_steps.isEmpty() && m_steps.first() &&
                          m_steps.first()->kind == verify::PackedForm::Kind::Patch;
    if (!patching) { // nothing to apply a patch to: let the file go
        m_reference = {};
        m_old.reset();
    }
}

FormAttempts::~FormAttempts() = default;

void FormAttempts::readPlayersCopy(const GameDir& root, const ManifestEntry& entry)
{
    QStringList folders = updaterules::pathSegments(entry.FilePath);
    folders.append(updaterules::pathSegments(entry.FileName));
    const QString name = folders.takeLast();
    const std::optional<GameDir> folder = root.openSub(folders, false);
    if (!folder)
        return;
    std::unique_ptr<QFile> file = folder->openForReading(name, AnySize);
    const qint64 size = file ? file->size() : 0;
    // An empty file has nothing to patch from, and cannot be mapped.
    if (size <= 0)
        return;
    const uchar* bytes = file->map(0, size);
    if (!bytes)
        return;
    m_reference = QByteArrayView(reinterpret_cast<const char*>(bytes), size);
    m_old = std::move(file);
}

QUrl FormAttempts::url(const QString& baseUrl, const QUrl& plainUrl) const
{
    if (onPlain())
        return plainUrl;
    return QUrl(baseUrl + verify::packedFormPath(*current()), QUrl::TolerantMode);
}

transfer::BodySink& FormAttempts::sinkFor(transfer::BodySink& file, transfer::Validators& checks)
{
    m_decoder.reset();
    if (onPlain())
        return file;
    const verify::PackedForm& form = *current();
    const bool patch = form.kind == verify::PackedForm::Kind::Patch;
    m_decoder = std::make_unique<DecodingSink>(
        file, patch ? m_reference : QByteArrayView(),
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
    if (onPlain() || current()->kind != verify::PackedForm::Kind::Patch) {
        m_reference = {};
        m_old.reset();
    }
    return u"file %1: the %2 failed (%3); fetching the %4 instead"_s.arg(
        m_entry.FileName, failed, reason, describe(current()));
}

} // namespace delta
