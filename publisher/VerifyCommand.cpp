#include "VerifyCommand.h"

#include "Ed25519.h"
#include "FormKeys.h"
#include "Manifest.h"
#include "ManifestCheck.h"
#include "Release.h"
#include "UpdateRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

// Manifests larger than this are not ones the tool wrote.
constexpr qint64 MaxManifestSize = 256LL << 20;

// The failures of one file of the site, named `label`, against a size and hash.
QStringList checkFile(const QString& path, const QString& label, std::optional<qint64> size,
                      const std::optional<QByteArray>& hash)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {label + u": missing on the site"_s};
    if (size && info.size() != *size)
        return {label +
                u": %1 bytes on the site, the manifest says %2"_s.arg(info.size()).arg(*size)};
    QString error;
    const auto actual = hashFile(path, &error);
    if (!actual)
        return {label + u": "_s + error};
    if (hash && *actual != *hash)
        return {label + u": the bytes on the site do not have the manifest's hash"_s};
    return {};
}

// The failures of entry n's smaller forms. A patch's base must be a version
// the site keeps, when it keeps any (a copied site may hold the forms alone).
QStringList checkForms(const QString& siteDir, const ManifestEntry& entry, const QString& label)
{
    const QDir site(siteDir);
    const QDir bases(site.filePath(QString::fromLatin1(verify::PackedFolder) + u"/bases"_s));
    QStringList failures;
    for (const verify::PackedForm& form : entry.Forms) {
        const QString path = verify::packedFormPath(form);
        failures +=
            checkFile(site.filePath(path), label + u": form "_s + path, form.size, form.sha256);
        const QString base = QString::fromLatin1(verify::formatHash(form.base));
        if (form.kind == verify::PackedForm::Kind::Patch && bases.exists() &&
            !QFileInfo(bases.filePath(base)).isFile())
            failures.append(
                u"%1: the patch %2 applies to a version the site no longer keeps (%3)"_s.arg(
                    label, path, base));
    }
    return failures;
}

// The failures of entry n, each naming the file.
QStringList checkEntry(const QString& siteDir, const ManifestEntry& entry, int n)
{
    const QString& name = entry.FileName;
    const QString label = u"entry %1 (%2)"_s.arg(n).arg(name);
    if (updaterules::isUnsafeEntry(entry.FilePath, name))
        return {label + u": the updater refuses the name as unsafe"_s};
    const std::optional<qint64>& size = entry.FileSize;
    QStringList failures;
    if (!size)
        failures.append(label +
                        (entry.SizeMalformed ? u": FileSize is malformed"_s : u": no FileSize"_s));
    if (!entry.FileHash)
        failures.append(label +
                        (entry.HashMalformed ? u": FileHash is malformed"_s : u": no FileHash"_s));
    failures += checkFile(QDir(siteDir).filePath(name.trimmed()), label, size, entry.FileHash);
    return failures + checkForms(siteDir, entry, label);
}

QStringList checkVersionKeys(const Manifest& manifest, const QDateTime& now, bool signedSite)
{
    const verify::OptionalKey<qint64> serial = manifest.serial();
    const verify::OptionalKey<QDateTime> expires = manifest.expires();
    QStringList failures;
    if (serial.malformed)
        failures.append(u"Serial is not a whole number"_s);
    else if (serial.absent() && signedSite)
        failures.append(u"the manifest is signed but has no Serial"_s);
    if (expires.malformed)
        failures.append(u"Expires is not a UTC time YYYY-MM-DDTHH:MM:SSZ"_s);
    else if (expires.value && *expires.value <= now)
        failures.append(u"the manifest expired at "_s +
                        QString::fromLatin1(verify::formatExpires(*expires.value)));
    return failures;
}

QStringList checkSignature(const VerifyOptions& o, const QByteArray& manifest, QTextStream& out)
{
    const QString sigPath = QDir(o.siteDir).filePath(u"info.ini.sig"_s);
    if (!o.publicKeys) {
        if (QFileInfo::exists(sigPath))
            out << u"signature: not checked (give --key)"_s << Qt::endl;
        return {};
    }
    QString keyText = *o.publicKeys;
    if (keyText.startsWith(u"PublicKey="_s)) // the line keygen prints
        keyText.remove(0, 10);
    const auto keys = verify::parsePublicKeyList(keyText.toUtf8());
    if (!keys)
        return {u"--key: "_s + keys.reason()};
    QFile sig(sigPath);
    if (!sig.open(QIODevice::ReadOnly))
        return {sigPath + u": "_s + sig.errorString()};
    const verify::Check check = verify::verifyManifest(manifest, sig.read(4096), keys.value());
    if (!check)
        return {u"signature: "_s + check.reason};
    out << u"signature: good"_s << Qt::endl;
    return {};
}

void printFailures(QTextStream& err, const QStringList& failures)
{
    err << u"quorvane-publish: the site does not verify:"_s << Qt::endl;
    for (const QString& f : failures)
        err << u"  "_s << f << Qt::endl;
}

} // namespace

int runVerify(const VerifyOptions& o, QTextStream& out, QTextStream& err)
{
    // A link would have the checks read bytes from elsewhere: nothing is read.
    if (const QStringList foreign = foreignEntries(o.siteDir, u"a site"_s); !foreign.isEmpty()) {
        printFailures(err, foreign);
        return 1;
    }
    const QString manifestPath = QDir(o.siteDir).filePath(u"info.ini"_s);
    QFile file(manifestPath);
    if (!QFileInfo(o.siteDir).isDir() || !file.open(QIODevice::ReadOnly)) {
        err << u"quorvane-publish: "_s << manifestPath << u": "_s
            << (QFileInfo(o.siteDir).isDir() ? file.errorString() : u"no such folder"_s)
            << Qt::endl;
        return 1;
    }
    const QByteArray manifest = file.read(MaxManifestSize);
    const Manifest read = Manifest::parse(manifest);
    QStringList failures = checkSignature(o, manifest, out);
    failures += checkVersionKeys(read, o.now, o.publicKeys.has_value());
    const auto count = read.entryCount();
    if (!count)
        failures.append(u"Max is not a usable entry count"_s);
    for (int n = 1; count && n <= *count; ++n)
        failures += checkEntry(o.siteDir, read.entry(n).value_or(ManifestEntry()), n);
    if (!failures.isEmpty()) {
        printFailures(err, failures);
        return 1;
    }
    out << u"all "_s << count.value_or(0)
        << u" files and their smaller forms match their size "
           u"and hash"_s
        << Qt::endl;
    return 0;
}

} // namespace publisher
