#include "Packing.h"

#include "FormKeys.h"
#include "Sha256.h"
#include "UpdateRules.h"
#include "ZstdForms.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

QString packedPath(const QString& siteDir, const QString& rest)
{
    return QDir(siteDir).filePath(QString::fromLatin1(verify::PackedFolder) + u'/' + rest);
}

QString basePath(const QString& siteDir, const QByteArray& sha256)
{
    return packedPath(siteDir, u"bases/"_s + QString::fromLatin1(verify::formatHash(sha256)));
}

// The manifests of the last `count` releases, newest first: the site's
// current one, then the copies kept of earlier ones.
QList<SiteManifest> lastReleases(const QString& siteDir, int count)
{
    QList<SiteManifest> releases;
    const auto current = readSiteManifest(QDir(siteDir).filePath(u"info.ini"_s));
    if (current && current.value())
        releases.append(*current.value());
    QDir kept(packedPath(siteDir, u"releases"_s));
    QList<qint64> serials;
    for (const QString& name : kept.entryList({u"*.ini"_s}, QDir::Files)) {
        bool ok = false;
        const qint64 serial = name.chopped(4).toLongLong(&ok);
        if (ok)
            serials.append(serial);
    }
    std::sort(serials.begin(), serials.end(), std::greater<>());
    for (const qint64 serial : std::as_const(serials)) {
        if (releases.size() >= count)
            break;
        if (!releases.isEmpty() && releases.first().serial.value_or(-1) == serial)
            continue;
        const auto copy = readSiteManifest(kept.filePath(QString::number(serial) + u".ini"_s));
        if (copy && copy.value())
            releases.append(*copy.value());
    }
    if (releases.size() > count)
        releases.resize(count);
    return releases;
}

QString keyOf(const QString& folder, const QString& name)
{
    return updaterules::fileKey(folder, name);
}

bool writeForm(const QString& siteDir, const verify::PackedForm& form, const QByteArray& bytes,
               QString* error)
{
    const QString path = QDir(siteDir).filePath(verify::packedFormPath(form));
    if (QFileInfo(path).size() == form.size)
        return true; // same name, same bytes: written by an earlier build
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = path + u": "_s + file.errorString();
        return false;
    }
    return true;
}

verify::PackedForm formOf(verify::PackedForm::Kind kind, const QByteArray& bytes,
                          const QByteArray& base = {})
{
    return {kind, base, bytes.size(), verify::Sha256::hash(bytes)};
}

// Where the site keeps the version of a file with `sha256`, if anywhere: a
// kept base was checked when it was kept; the site's own file may have moved on.
QString findBase(const QString& siteDir, const QString& name, const QByteArray& sha256)
{
    if (const QString kept = basePath(siteDir, sha256); QFileInfo(kept).isFile())
        return kept;
    const QString current = QDir(siteDir).filePath(name);
    QString ignored;
    if (QFileInfo(current).isFile() && hashFile(current, &ignored) == sha256)
        return current;
    return {};
}

// The forms of one changed or new file.
QString packOne(const QString& siteDir, const ReleaseFile& file, const QList<QByteArray>& bases,
                ManifestEntry& entry, PackStats& stats)
{
    QFile source(file.sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return file.sourcePath + u": "_s + source.errorString();
    if (file.size == 0)
        return {};
    const uchar* mapped = source.map(0, file.size);
    if (!mapped)
        return file.sourcePath + u": cannot be mapped"_s;
    const QByteArrayView data(reinterpret_cast<const char*>(mapped), file.size);
    QString error;
    qint64 cheapest = file.size - file.size / 20; // at least 5% smaller
    if (const auto copy = compressBelow(data, cheapest + 1)) {
        const verify::PackedForm form = formOf(verify::PackedForm::Kind::Compressed, *copy);
        if (!writeForm(siteDir, form, *copy, &error))
            return error;
        entry.Forms.append(form);
        cheapest = copy->size() - 1;
        ++stats.compressed;
        stats.formBytes += copy->size();
    }
    QElapsedTimer clock;
    clock.start();
    const auto timed = qScopeGuard([&] { stats.patchMs += clock.elapsed(); });
    for (const QByteArray& base : bases) {
        QFile old(findBase(siteDir, file.name, base));
        if (old.fileName().isEmpty() || !old.open(QIODevice::ReadOnly) || old.size() == 0)
            continue;
        const uchar* ref = old.map(0, old.size());
        if (!ref)
            continue;
        const auto patch = patchBelow(
            QByteArrayView(reinterpret_cast<const char*>(ref), old.size()), data, cheapest + 1);
        if (!patch)
            continue;
        const verify::PackedForm form = formOf(verify::PackedForm::Kind::Patch, *patch, base);
        if (!writeForm(siteDir, form, *patch, &error))
            return error;
        entry.Forms.append(form);
        ++stats.patches;
        stats.formBytes += patch->size();
    }
    return {};
}

bool formsPresent(const QString& siteDir, const verify::PackedForms& forms)
{
    return std::all_of(forms.begin(), forms.end(), [&](const verify::PackedForm& f) {
        return QFileInfo(QDir(siteDir).filePath(verify::packedFormPath(f))).size() == f.size;
    });
}

// True when `path` is a second name of a file the site serves anyway.
bool sharesCurrentFile(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_nlink > 1;
#else
    (void)path;
    return false;
#endif
}

// Keeps the version of every file `release` names below the bases folder, a
// hard link to the site's file where possible. `verified`: the site's files
// are known to have those bytes; otherwise each is hashed first.
void keepVersions(const QString& siteDir, const SiteManifest& release, bool verified)
{
    QDir().mkpath(packedPath(siteDir, u"bases"_s));
    QString ignored;
    for (const ManifestEntry& e : release.entries) {
        const QString current = QDir(siteDir).filePath(e.FileName);
        if (!e.FileHash || QFileInfo::exists(basePath(siteDir, *e.FileHash)) ||
            (!verified && hashFile(current, &ignored) != *e.FileHash))
            continue;
        const QString path = basePath(siteDir, *e.FileHash);
#ifdef Q_OS_UNIX
        if (::link(QFile::encodeName(current).constData(), QFile::encodeName(path).constData()) ==
            0)
            continue;
#endif
        QFile::copy(current, path);
    }
}

} // namespace

QStringList checkPackedName(const QList<ReleaseFile>& files)
{
    QStringList problems;
    for (const ReleaseFile& f : files) {
        if (f.name.compare(QString::fromLatin1(verify::PackedFolder), Qt::CaseInsensitive) == 0)
            problems.append(f.name + u": the site keeps its smaller forms under that name"_s);
    }
    return problems;
}

QString packRelease(const QString& siteDir, int deltas, const QList<ReleaseFile>& files,
                    SiteManifest& next, PackStats& stats, QTextStream& err)
{
    // Every version each file had in the last releases, newest first.
    QHash<QString, QList<QByteArray>> history;
    QHash<QString, ManifestEntry> current;
    const QList<SiteManifest> releases = lastReleases(siteDir, deltas);
    if (!releases.isEmpty() && deltas > 0) // before the build replaces the site's files
        keepVersions(siteDir, releases.first(), false);
    for (qsizetype r = 0; r < releases.size(); ++r) {
        for (const ManifestEntry& e : releases[r].entries) {
            const QString key = keyOf(e.FilePath, e.FileName);
            if (r == 0)
                current.insert(key, e);
            if (e.FileHash && !history[key].contains(*e.FileHash))
                history[key].append(*e.FileHash);
        }
    }
    QHash<QString, const ReleaseFile*> byKey;
    for (const ReleaseFile& f : files)
        byKey.insert(keyOf(f.folder, f.name), &f);
    for (ManifestEntry& entry : next.entries) {
        const QString key = keyOf(entry.FilePath, entry.FileName);
        const ReleaseFile* file = byKey.value(key);
        if (!file)
            continue;
        const auto before = current.constFind(key);
        if (before != current.cend() && before->FileHash == file->sha256 &&
            formsPresent(siteDir, before->Forms)) {
            entry.Forms = before->Forms; // unchanged: its forms are still on the site
            continue;
        }
        QList<QByteArray> bases = history.value(key);
        bases.removeAll(file->sha256);
        if (file->size >= (32LL << 20))
            err << u"packing "_s << file->name << Qt::endl;
        if (const QString error = packOne(siteDir, *file, bases, entry, stats); !error.isEmpty())
            return error;
    }
    return {};
}

void keepForPatches(const QString& siteDir, int deltas, const SiteManifest& next,
                    const QByteArray& manifestBytes, PackStats& stats)
{
    QDir().mkpath(packedPath(siteDir, u"releases"_s));
    QSaveFile copy(packedPath(siteDir, u"releases/%1.ini"_s.arg(next.serial.value_or(0))));
    if (copy.open(QIODevice::WriteOnly) && copy.write(manifestBytes) == manifestBytes.size())
        copy.commit();
    keepVersions(siteDir, next, true);
    // The versions the next build may patch from: those of the last releases.
    QSet<QString> wanted;
    for (const SiteManifest& release : lastReleases(siteDir, std::max(deltas, 1))) {
        for (const ManifestEntry& e : release.entries) {
            if (e.FileHash)
                wanted.insert(QFileInfo(basePath(siteDir, *e.FileHash)).fileName());
        }
    }
    QDir bases(packedPath(siteDir, u"bases"_s));
    for (const QFileInfo& info : bases.entryInfoList(QDir::Files)) {
        if (!wanted.contains(info.fileName()))
            QFile::remove(info.filePath()); // no manifest names these
        else if (!sharesCurrentFile(info.filePath()))
            stats.keptBytes += info.size();
    }
}

} // namespace publisher
