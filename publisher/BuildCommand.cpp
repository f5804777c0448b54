#include "BuildCommand.h"

#include "Ed25519.h"
#include "ManifestKeys.h"
#include "Packing.h"
#include "Release.h"
#include "SecretKeyFile.h"
#include "SerialMemory.h"
#include "SiteManifest.h"
#include "UpdateRules.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

// Progress is shown for releases at least this large, in steps of 10%.
constexpr qint64 ProgressThreshold = 32LL << 20;

struct Plan
{
    SiteManifest next;
    QList<ReleaseFile> toCopy;
    std::optional<verify::SecretKey> key;
    QStringList changed, added, removed;
    qint64 downloadBytes = 0;
    QString previousVersion;
    QList<ReleaseFile> files;
    PackStats packed;
};

QString sitePath(const QString& siteDir, const QString& name)
{
    return QDir(siteDir).filePath(name);
}

bool inside(const QString& inner, const QString& outer)
{
    return inner == outer || inner.startsWith(outer + u'/');
}

QStringList checkFolders(const BuildOptions& o)
{
    QStringList problems;
    const QFileInfo release(o.releaseDir), site(o.siteDir);
    if (!release.isDir())
        problems.append(o.releaseDir + u": no such folder (the release)"_s);
    if (!site.isDir())
        problems.append(o.siteDir + u": no such folder (the site; create it first)"_s);
    if (!problems.isEmpty())
        return problems;
    const QString r = release.canonicalFilePath(), s = site.canonicalFilePath();
    if (inside(r, s) || inside(s, r))
        problems.append(u"the release folder and the site folder must not contain each other"_s);
    return problems;
}

QStringList checkVersion(const QString& version)
{
    if (version.isEmpty() || version != version.trimmed())
        return {u"--version: give a version without blanks around it"_s};
    for (QChar c : version) {
        if (c.category() == QChar::Other_Control)
            return {u"--version: control characters are not allowed"_s};
    }
    return {};
}

Progress progressPrinter(QTextStream& err, const QString& what)
{
    return [&err, what, shown = -1](qint64 done, qint64 total) mutable {
        if (total < ProgressThreshold)
            return;
        const int step = updaterules::percentOf(done, total) / 10 * 10;
        if (step != shown) {
            shown = step;
            err << what << u": "_s << step << u"% ("_s << (done >> 20) << u" of "_s << (total >> 20)
                << u" MiB)"_s << Qt::endl;
        }
    };
}

// Hashes every release file; false (problems listed) when one cannot be read.
bool hashRelease(QList<ReleaseFile>& files, QStringList& problems, QTextStream& err)
{
    qint64 total = 0, done = 0;
    for (const ReleaseFile& f : files)
        total += f.size;
    const Progress progress = progressPrinter(err, u"hashing the release"_s);
    for (ReleaseFile& f : files) {
        QString error;
        const auto hash = hashFile(f.sourcePath, &error, &done, total, progress);
        if (!hash)
            problems.append(error);
        else
            f.sha256 = *hash;
    }
    return problems.isEmpty();
}

// True when the site's copy of `file` already has its bytes.
bool siteHasBytes(const QString& siteDir, const ReleaseFile& file)
{
    const QString path = sitePath(siteDir, file.name);
    const QFileInfo info(path);
    if (!info.isFile() || info.size() != file.size)
        return false;
    QString ignored;
    return hashFile(path, &ignored) == file.sha256;
}

bool unchangedSince(const ManifestEntry& previous, const ReleaseFile& file, bool siteHasIt)
{
    if (previous.FileHash)
        return *previous.FileHash == file.sha256 &&
               previous.FileSize.value_or(file.size) == file.size;
    return siteHasIt;
}

// Decides the version of every file and what is copied.
void decideEntries(const BuildOptions& o, const std::optional<SiteManifest>& previous,
                   const QList<ReleaseFile>& files, Plan& plan)
{
    QHash<QString, ManifestEntry> before;
    QStringList order; // the previous manifest's order is kept for files still there
    if (previous) {
        for (const ManifestEntry& e : previous->entries) {
            const QString key = updaterules::fileKey(e.FilePath, e.FileName);
            before.insert(key, e);
            order.append(key);
        }
    }
    QHash<QString, ManifestEntry> now;
    QStringList added;
    for (const ReleaseFile& f : files) {
        const QString key = updaterules::fileKey(f.folder, f.name);
        const bool siteHasIt = siteHasBytes(o.siteDir, f);
        if (!siteHasIt)
            plan.toCopy.append(f);
        ManifestEntry entry{f.name, o.version, f.folder, f.size, f.sha256};
        const QString shown = f.folder.isEmpty() ? f.name : f.folder + u'\\' + f.name;
        if (const auto it = before.constFind(key); it == before.cend()) {
            plan.added.append(shown);
            added.append(key);
            plan.downloadBytes += f.size;
        } else if (unchangedSince(*it, f, siteHasIt)) {
            entry.FileVersion = it->FileVersion;
        } else {
            plan.changed.append(shown);
            plan.downloadBytes += f.size;
        }
        now.insert(key, entry);
    }
    for (const QString& key : std::as_const(order)) {
        if (now.contains(key))
            plan.next.entries.append(now.value(key));
        else
            plan.removed.append(before.value(key).FileName);
    }
    for (const QString& key : std::as_const(added))
        plan.next.entries.append(now.value(key));
}

// The new version must reach players: after the previous one, and after every
// changed file's previous version.
QStringList checkVersionOrder(const BuildOptions& o, const std::optional<SiteManifest>& previous,
                              const Plan& plan)
{
    if (!previous)
        return {};
    const int order = updaterules::compareVersions(o.version, previous->version);
    const bool news = !plan.changed.isEmpty() || !plan.added.isEmpty();
    if (order < 0 || (order == 0 && news))
        return {u"--version %1 must sort after the site's version %2"_s.arg(o.version,
                                                                            previous->version)};
    for (const ManifestEntry& e : previous->entries) {
        if (e.FileVersion.isEmpty() || updaterules::compareVersions(o.version, e.FileVersion) >= 0)
            continue;
        return {u"--version %1 sorts before %2, the version of %3 on the site"_s.arg(
            o.version, e.FileVersion, e.FileName)};
    }
    return {};
}

QStringList checkSiteNames(const QString& siteDir, const QList<ReleaseFile>& files)
{
    QStringList problems;
    for (const ReleaseFile& f : files) {
        if (QFileInfo(sitePath(siteDir, f.name)).isDir())
            problems.append(f.name + u": the site has a folder of that name"_s);
    }
    return problems;
}

void printProblems(QTextStream& err, const QStringList& problems)
{
    err << u"quorvane-publish: nothing was published:"_s << Qt::endl;
    for (const QString& p : problems)
        err << u"  "_s << p << Qt::endl;
}

// Above the site's Serial and above every one signed with the key before.
bool decideSerial(const BuildOptions& o, const std::optional<SiteManifest>& before, Plan& plan,
                  QTextStream& err)
{
    std::optional<qint64> signedBefore;
    if (o.secretKeyFile) {
        const auto remembered = readSignedSerial(*o.secretKeyFile);
        if (!remembered) {
            printProblems(err, {remembered.reason()});
            return false;
        }
        signedBefore = remembered.value();
    }
    plan.next.serial = nextSerial(before ? before->serial : std::nullopt, signedBefore);
    if (!plan.next.serial)
        printProblems(err, {u"Serial: the highest Serial is reached; no later one exists"_s});
    return plan.next.serial.has_value();
}

std::optional<Plan> makePlan(const BuildOptions& o, QTextStream& err)
{
    QStringList problems = checkFolders(o) + checkVersion(o.version);
    Plan plan;
    if (o.secretKeyFile) {
        auto key = verify::readSecretKeyFile(*o.secretKeyFile);
        if (!key)
            problems.append(key.reason());
        else
            plan.key = key.value();
    }
    if (o.expiresDays && (*o.expiresDays < 1 || *o.expiresDays > 36500))
        problems.append(u"--expires: give a number of days from 1 to 36500"_s);
    if (!problems.isEmpty()) {
        printProblems(err, problems);
        return std::nullopt;
    }
    const auto previous = readSiteManifest(sitePath(o.siteDir, u"info.ini"_s));
    if (!previous)
        problems.append(previous.reason());
    else if (!o.secretKeyFile && QFileInfo::exists(sitePath(o.siteDir, u"info.ini.sig"_s)))
        problems.append(u"the site is signed (info.ini.sig); give --sign to publish on it"_s);
    ReleaseScan scan = scanRelease(o.releaseDir);
    problems += scan.problems + checkSiteNames(o.siteDir, scan.files) + checkPackedName(scan.files);
    if (scan.files.isEmpty())
        problems.append(o.releaseDir + u": the release holds no files"_s);
    if (!problems.isEmpty() || !hashRelease(scan.files, problems, err)) {
        printProblems(err, problems);
        return std::nullopt;
    }
    decideEntries(o, previous.value(), scan.files, plan);
    plan.files = scan.files;
    problems += checkVersionOrder(o, previous.value(), plan);
    if (!problems.isEmpty()) {
        printProblems(err, problems);
        return std::nullopt;
    }
    const std::optional<SiteManifest>& before = previous.value();
    plan.previousVersion = before ? before->version : QString();
    plan.next.version = o.version;
    plan.next.gameFileName = before && !before->gameFileName.trimmed().isEmpty()
                                 ? before->gameFileName
                                 : QString::fromLatin1(DefaultGameFileName);
    if (!decideSerial(o, before, plan, err))
        return std::nullopt;
    if (o.expiresDays)
        plan.next.expires = o.now.toUTC().addDays(*o.expiresDays);
    return plan;
}

bool saveAtomically(QSaveFile& file, const QByteArray& bytes, QString* error)
{
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        *error = file.fileName() + u": "_s + file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

// Files first, then the manifest and its signature: a player never sees a
// manifest whose files are not there yet.
QString applyPlan(const BuildOptions& o, const Plan& plan)
{
    QString error;
    for (const ReleaseFile& f : plan.toCopy) {
        if (!copyChecked(f.sourcePath, sitePath(o.siteDir, f.name), f.sha256, &error))
            return error;
    }
    const QByteArray manifest = renderManifest(plan.next);
    QSaveFile manifestFile(sitePath(o.siteDir, u"info.ini"_s));
    QSaveFile signatureFile(sitePath(o.siteDir, u"info.ini.sig"_s));
    if (!saveAtomically(manifestFile, manifest, &error))
        return error;
    // Remembered first: a failure later only leaves a Serial unused.
    if (plan.key && !rememberSignedSerial(*o.secretKeyFile, *plan.next.serial, &error))
        return error;
    if (plan.key) {
        const QByteArray signature = verify::sign(manifest, *plan.key);
        if (!verify::verifySignature(manifest, signature, plan.key->publicKey()))
            return u"the signature does not verify; nothing of the manifest was saved"_s;
        if (!saveAtomically(signatureFile, verify::signatureFileText(signature), &error))
            return error;
    }
    if (!manifestFile.commit())
        return manifestFile.fileName() + u": "_s + manifestFile.errorString();
    if (plan.key && !signatureFile.commit())
        return signatureFile.fileName() + u": "_s + signatureFile.errorString();
    return {};
}

void printSummary(QTextStream& out, const BuildOptions& o, const Plan& plan)
{
    const auto list = [](const QStringList& names) {
        return names.isEmpty() ? QString() : u" ("_s + names.join(u", "_s) + u')';
    };
    out << u"published version "_s << o.version << u" (Serial "_s << *plan.next.serial
        << u") with "_s << plan.next.entries.size() << u" files"_s << Qt::endl;
    out << u"changed: "_s << plan.changed.size() << list(plan.changed) << Qt::endl;
    out << u"added:   "_s << plan.added.size() << list(plan.added) << Qt::endl;
    out << u"removed: "_s << plan.removed.size() << list(plan.removed) << Qt::endl;
    out << u"a player on "_s
        << (plan.previousVersion.isEmpty() ? u"no release"_s : u"version "_s + plan.previousVersion)
        << u" downloads "_s << plan.downloadBytes << u" bytes"_s << Qt::endl;
    if (plan.next.expires)
        out << u"expires: "_s << verify::formatExpires(*plan.next.expires) << Qt::endl;
    if (plan.key)
        out << u"signed:  PublicKey="_s << plan.key->publicKey().toBase64() << Qt::endl;
}

} // namespace

int runBuild(const BuildOptions& options, QTextStream& out, QTextStream& err)
{
    std::optional<Plan> plan = makePlan(options, err);
    if (!plan)
        return 1;
    QString error =
        packRelease(options.siteDir, options.deltas, plan->files, plan->next, plan->packed, err);
    if (error.isEmpty())
        error = applyPlan(options, *plan);
    if (!error.isEmpty()) {
        err << u"quorvane-publish: publishing failed: "_s << error << Qt::endl
            << u"the site's manifest was not replaced; run the build again"_s << Qt::endl;
        return 1;
    }
    keepForPatches(options.siteDir, options.deltas, plan->next, renderManifest(plan->next),
                   plan->packed);
    printSummary(out, options, *plan);
    out << u"smaller forms: "_s << plan->packed.compressed << u" compressed copies, "_s
        << plan->packed.patches << u" patches, "_s << plan->packed.formBytes
        << u" bytes; kept for later patches: "_s << plan->packed.keptBytes << u" bytes"_s
        << Qt::endl
        << u"patches made in "_s << plan->packed.patchMs << u" ms"_s << Qt::endl;
    return 0;
}

} // namespace publisher
