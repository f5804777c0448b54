#include "Manifest.h"

#include "FormKeys.h"
#include "ManifestKeys.h"
#include "ProfileFile.h"
#include "ProfileSyntax.h"
#include "ProfileText.h"
#include "UpdateRules.h"
#include "modINI.h"

#include "GameDir.h"

#include <QHash>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString readText(const profile::ParsedFile& file, QByteArrayView section, QByteArrayView key)
{
    const std::optional<QByteArray> raw = file.value(section, key);
    return raw ? modINI::valueText(*raw, file.encoding()) : QString();
}

} // namespace

Manifest::Manifest(std::shared_ptr<const profile::ParsedFile> parse) : m_parse(std::move(parse)) {}

Manifest Manifest::parse(const QByteArray& bytes)
{
    auto index =
        std::make_shared<const profile::syntax::Index>(profile::syntax::Index::parse(bytes));
    return Manifest(
        std::make_shared<const profile::ParsedFile>(std::move(index), profile::encodingOf(bytes)));
}

Manifest Manifest::load(const QString& path)
{
    // Through the folder's handle: bounded, never through a link or from a pipe.
    const qsizetype slash = path.lastIndexOf(u'/');
    const std::optional<GameDir> folder =
        GameDir::openRoot(slash < 0 ? u"."_s : path.first(std::max<qsizetype>(slash, 1)));
    return parse(folder ? folder->readFile(path.sliced(slash + 1), MaxBytes).value_or(QByteArray())
                        : QByteArray());
}

QString Manifest::versionValue(const char* key) const
{
    return readText(*m_parse, "VERSION", key);
}

QString Manifest::version() const
{
    return versionValue("Version");
}

QString Manifest::gameFileName() const
{
    return versionValue("GameFileName");
}

std::optional<std::int32_t> Manifest::entryCount() const
{
    return updaterules::entryCountFromMax(versionValue("Max"));
}

QVector<ManifestEntry> Manifest::entries(std::int32_t count) const
{
    QVector<ManifestEntry> list;
    QByteArray key;
    for (std::int32_t n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n);
        key = "FileName" + number;
        const std::optional<QByteArray> name = m_parse->value("FILES", key);
        if (!name)
            continue;
        ManifestEntry entry;
        entry.FileName = modINI::valueText(*name, m_parse->encoding());
        entry.FileVersion = readText(*m_parse, "FILES", QByteArray("FileVersion" + number));
        entry.FilePath = readText(*m_parse, "FILES", QByteArray("FilePath" + number));
        const auto size = verify::parseFileSize(m_parse->value("FILES", verify::fileSizeKey(n)));
        const auto hash = verify::parseFileHash(m_parse->value("FILES", verify::fileHashKey(n)));
        entry.FileSize = size.value;
        entry.FileHash = hash.value;
        if (size.malformed)
            entry.BadCheck = u"malformed FileSize%1"_s.arg(n);
        else if (hash.malformed)
            entry.BadCheck = u"malformed FileHash%1"_s.arg(n);
        // Damaged forms are left out: the plain file stays fully checked.
        entry.Forms = verify::parseFileForms(m_parse->value("FILES", verify::fileFormsKey(n)))
                          .value.value_or(verify::PackedForms());
        list.append(std::move(entry));
    }
    return list;
}

bool hasName(const ManifestEntry& entry)
{
    return !entry.FileName.trimmed().isEmpty();
}

QVector<ManifestEntry> pairInstalled(const QVector<ManifestEntry>& remote,
                                     const Manifest& installed)
{
    const std::int32_t installedCount = installed.entryCount().value_or(0);
    QHash<QString, ManifestEntry> byFile;
    for (ManifestEntry& entry : installed.entries(installedCount)) {
        if (!hasName(entry))
            continue;
        const QString key = updaterules::fileKey(entry.FilePath, entry.FileName);
        if (!byFile.contains(key))
            byFile.insert(key, std::move(entry));
    }
    QVector<ManifestEntry> paired(remote.size());
    for (qsizetype n = 0; n < remote.size(); ++n) {
        if (!hasName(remote.at(n)))
            continue;
        const auto it =
            byFile.constFind(updaterules::fileKey(remote.at(n).FilePath, remote.at(n).FileName));
        if (it != byFile.cend())
            paired[n] = *it;
    }
    return paired;
}
