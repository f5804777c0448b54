#include "SiteManifest.h"

#include "FormKeys.h"
#include "Manifest.h"
#include "ManifestKeys.h"
#include "ProfileFile.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

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
    const Manifest read(file);
    SiteManifest manifest;
    manifest.version = read.version();
    manifest.gameFileName = read.gameFileName();
    const auto count = read.entryCount();
    if (!count)
        return Result::failure(path + u": Max is not a usable entry count"_s);
    const auto serial = read.serial();
    if (serial.malformed)
        return Result::failure(path + u": Serial is not a whole number"_s);
    manifest.serial = serial.value;
    manifest.expires = read.expires().value;
    for (ManifestEntry& entry : read.entries(*count)) {
        if (hasName(entry))
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
        const ManifestEntry& e = manifest.entries[i];
        const QByteArray n = QByteArray::number(i + 1);
        line(out, "FileName" + n, e.FileName.toUtf8());
        line(out, "FileVersion" + n, e.FileVersion.toUtf8());
        line(out, "FilePath" + n, e.FilePath.toUtf8());
        if (e.FileSize)
            line(out, "FileSize" + n, QByteArray::number(*e.FileSize));
        if (e.FileHash)
            line(out, "FileHash" + n, verify::formatHash(*e.FileHash));
        if (!e.Forms.isEmpty())
            line(out, verify::fileFormsKey(int(i + 1)), verify::formatFileForms(e.Forms));
    }
    return out;
}

} // namespace publisher
