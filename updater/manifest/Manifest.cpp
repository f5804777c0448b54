#include "Manifest.h"

#include "FormKeys.h"
#include "GameDir.h"
#include "ProfileText.h"
#include "UpdateRules.h"

#include <QHash>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString readText(const profile::ParsedFile& file, QByteArrayView section, QByteArrayView key)
{
    const std::optional<QByteArray> raw = file.value(section, key);
    return raw ? profile::valueText(*raw, file.encoding()) : QString();
}

} // namespace

Manifest Manifest::parse(const QByteArray& bytes)
{
    return Manifest(profile::parseBytes(bytes));
}

Manifest Manifest::read(const GameDir& folder, const QString& name)
{
    // Bounded, never through a link or from a pipe.
    return Manifest(profile::readFile(folder, name, MaxBytes));
}

Manifest Manifest::load(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const std::optional<GameDir> folder =
        GameDir::openRoot(slash < 0 ? u"."_s : path.first(std::max<qsizetype>(slash, 1)));
    return folder ? read(*folder, path.sliced(slash + 1)) : Manifest();
}

QString Manifest::versionValue(const char* key) const
{
    return readText(m_file, "VERSION", key);
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

verify::OptionalKey<qint64> Manifest::serial() const
{
    return verify::parseSerial(m_file.value("VERSION", "Serial"));
}

verify::OptionalKey<QDateTime> Manifest::expires() const
{
    return verify::parseExpires(m_file.value("VERSION", "Expires"));
}

std::optional<ManifestEntry> Manifest::entry(std::int32_t n) const
{
    const QByteArray number = QByteArray::number(n);
    const std::optional<QByteArray> name = m_file.value("FILES", QByteArray("FileName" + number));
    if (!name)
        return std::nullopt;
    ManifestEntry entry;
    entry.FileName = profile::valueText(*name, m_file.encoding());
    entry.FileVersion = readText(m_file, "FILES", QByteArray("FileVersion" + number));
    entry.FilePath = readText(m_file, "FILES", QByteArray("FilePath" + number));
    const auto size = verify::parseFileSize(m_file.value("FILES", verify::fileSizeKey(n)));
    const auto hash = verify::parseFileHash(m_file.value("FILES", verify::fileHashKey(n)));
    entry.FileSize = size.value;
    entry.FileHash = hash.value;
    entry.SizeMalformed = size.malformed;
    entry.HashMalformed = hash.malformed;
    if (size.malformed)
        entry.BadCheck = u"malformed FileSize%1"_s.arg(n);
    else if (hash.malformed)
        entry.BadCheck = u"malformed FileHash%1"_s.arg(n);
    // Damaged forms are left out: the plain file stays fully checked.
    entry.Forms = verify::parseFileForms(m_file.value("FILES", verify::fileFormsKey(n)))
                      .value.value_or(verify::PackedForms());
    return entry;
}

QVector<ManifestEntry> Manifest::entries(std::int32_t count) const
{
    QVector<ManifestEntry> list;
    for (std::int32_t n = 1; n <= count; ++n) {
        if (std::optional<ManifestEntry> e = entry(n))
            list.append(std::move(*e));
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
