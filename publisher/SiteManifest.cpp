#include "SiteManifest.h"

#include "FormKeys.h"
#include "ManifestKeys.h"
#include "ProfileFile.h"
#include "UpdateRules.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

QString text(const profile::ParsedFile& file, QByteArrayView section, const QByteArray& key)
{
    return QString::fromUtf8(file.value(section, key).value_or(QByteArray()));
}

SiteEntry readEntry(const profile::ParsedFile& file, int n)
{
    const QByteArray number = QByteArray::number(n);
    SiteEntry entry;
    entry.name = text(file, "FILES", "FileName" + number);
    entry.version = text(file, "FILES", "FileVersion" + number);
    entry.folder = text(file, "FILES", "FilePath" + number);
    entry.size = verify::parseFileSize(file.value("FILES", verify::fileSizeKey(n))).value;
    entry.sha256 = verify::parseFileHash(file.value("FILES", verify::fileHashKey(n))).value;
    entry.forms = verify::parseFileForms(file.value("FILES", verify::fileFormsKey(n)))
                      .value.value_or(verify::PackedForms());
    return entry;
}

void line(QByteArray& out, const QByteArray& key, QByteArrayView value)
{
    out += key;
    out += '=';
    out += value;
    out += "\r\n";
}

} // namespace

verify::Outcome<std::optional<SiteManifest>> readSiteManifest(const QString& path)
{
    using Result = verify::Outcome<std::optional<SiteManifest>>;
    if (!QFileInfo::exists(path))
        return Result::success(std::nullopt);
    const profile::ParsedFile file = profile::readFile(path);
    if (!file.isValid())
        return Result::failure(path + u": cannot be read"_s);
    SiteManifest manifest;
    manifest.version = text(file, "VERSION", "Version");
    manifest.gameFileName = text(file, "VERSION", "GameFileName");
    const auto count = updaterules::entryCountFromMax(text(file, "VERSION", "Max"));
    if (!count)
        return Result::failure(path + u": Max is not a usable entry count"_s);
    const auto serial = verify::parseSerial(file.value("VERSION", "Serial"));
    if (serial.malformed)
        return Result::failure(path + u": Serial is not a whole number"_s);
    manifest.serial = serial.value;
    manifest.expires = verify::parseExpires(file.value("VERSION", "Expires")).value;
    for (int n = 1; n <= *count; ++n) {
        SiteEntry entry = readEntry(file, n);
        if (!entry.name.trimmed().isEmpty())
            manifest.entries.append(std::move(entry));
    }
    return Result::success(std::move(manifest));
}

QByteArray renderManifest(const SiteManifest& manifest)
{
    QByteArray out;
    out += "[VERSION]\r\n";
    line(out, "Version", manifest.version.toUtf8());
    line(out, "GameFileName", manifest.gameFileName.toUtf8());
    line(out, "Max", QByteArray::number(manifest.entries.size()));
    if (manifest.serial)
        line(out, "Serial", QByteArray::number(*manifest.serial));
    if (manifest.expires)
        line(out, "Expires", verify::formatExpires(*manifest.expires));
    out += "\r\n[FILES]\r\n";
    for (qsizetype i = 0; i < manifest.entries.size(); ++i) {
        const SiteEntry& e = manifest.entries[i];
        const QByteArray n = QByteArray::number(i + 1);
        line(out, "FileName" + n, e.name.toUtf8());
        line(out, "FileVersion" + n, e.version.toUtf8());
        line(out, "FilePath" + n, e.folder.toUtf8());
        if (e.size)
            line(out, "FileSize" + n, QByteArray::number(*e.size));
        if (e.sha256)
            line(out, "FileHash" + n, verify::formatHash(*e.sha256));
        if (!e.forms.isEmpty())
            line(out, verify::fileFormsKey(int(i + 1)), verify::formatFileForms(e.forms));
    }
    return out;
}

} // namespace publisher
