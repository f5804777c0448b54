#include "Release.h"

#include "GameDir.h"
#include "Sha256.h"
#include "UpdateRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <memory>

#ifndef Q_OS_WIN
#include <dirent.h>
#endif

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

constexpr qint64 ChunkSize = 1 << 20;

// Names the site or the game folder use for the updater's own files: the
// updater would overwrite, sweep or misread a game file of such a name.
bool isReservedName(const QString& name)
{
    static constexpr QStringView reserved[] = {
        u"info.ini",        u"info.ini.sig",     u"temp.ini",      u"Updater.ini",
        u"Quorvane.resume", u"Quorvane.journal", u"Quorvane.lock", u"Quorvane.log"};
    const bool listed = std::any_of(std::begin(reserved), std::end(reserved), [&](QStringView r) {
        return name.compare(r, Qt::CaseInsensitive) == 0;
    });
    const bool partName = name.startsWith(u".qvpart-"_s, Qt::CaseInsensitive) ||
                          (name.startsWith(u'.') && name.contains(u".part-"_s));
    return listed || partName || GameDir::isTemporaryName(name);
}

constexpr QStringView QuotedProblem =
    u"is in quotes, which the updater strips from manifest values";

// The manifest reader takes a value in matching quotes for the text inside.
bool isQuoted(const QString& value)
{
    return value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
           value.back() == value.front();
}

// Why a segment cannot stand in a manifest line as written, or empty.
QString segmentProblem(const QString& segment)
{
    if (segment.contains(u'\\'))
        return u"holds a \"\\\", which the updater reads as a folder separator"_s;
    if (segment != segment.trimmed())
        return u"begins or ends with a blank, which a manifest cannot keep"_s;
    if (isQuoted(segment))
        return QuotedProblem.toString();
    for (QChar c : segment) {
        if (c.category() == QChar::Other_Control)
            return u"holds a control character"_s;
    }
    return {};
}

QString nameProblem(const QStringList& segments, const QString& folder, const QString& name)
{
    for (const QString& segment : segments) {
        if (QString why = segmentProblem(segment); !why.isEmpty())
            return why;
    }
    if (isQuoted(folder))
        return QuotedProblem.toString();
    if (updaterules::isUnsafeEntry(folder, name))
        return u"the updater refuses the name as unsafe"_s;
    if (isReservedName(name))
        return u"the updater and the site use this name for their own files"_s;
    return {};
}

// Names in `path` that are not valid UTF-8: Qt's listings leave them out,
// so they are read from the system's own.
QStringList undecodableNames(const QString& path, const QString& relative)
{
    QStringList problems;
#ifndef Q_OS_WIN
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(path).constData()),
                                                  &::closedir);
    while (dir) {
        const dirent* entry = ::readdir(dir.get());
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (QString::fromUtf8(name).toUtf8() != name)
            problems.append((relative.isEmpty() ? QString() : relative + u'/') +
                            QString::fromUtf8(name) + u": the name is not valid UTF-8"_s);
    }
#else
    Q_UNUSED(path);
    Q_UNUSED(relative);
#endif
    return problems;
}

} // namespace

QStringList foreignEntries(const QString& folder, const QString& what)
{
    QStringList problems;
    const QDir root(QFileInfo(folder).absoluteFilePath());
    problems += undecodableNames(root.path(), QString());
    // Without FollowSymlinks a linked folder is listed, never entered.
    QDirIterator it(root.path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = root.relativeFilePath(info.filePath());
        if (info.isSymLink() || info.isJunction())
            problems.append(relative + u": is a link; "_s + what +
                            u" must hold its files themselves, never a link to elsewhere"_s);
        else if (info.isDir())
            problems += undecodableNames(info.filePath(), relative);
    }
    problems.sort();
    return problems;
}

ReleaseScan scanRelease(const QString& releaseDir)
{
    ReleaseScan scan;
    scan.problems = foreignEntries(releaseDir, u"a release"_s);
    const QDir root(QFileInfo(releaseDir).absoluteFilePath());
    QHash<QString, QStringList> byName; // case-folded name -> relative paths
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).isSymLink())
            continue; // refused above
        const QString relative = root.relativeFilePath(path);
        QStringList segments = relative.split(u'/');
        ReleaseFile file;
        file.name = segments.constLast();
        file.folder = segments.mid(0, segments.size() - 1).join(u'\\');
        file.sourcePath = path;
        const QFileInfo info(path);
        file.size = info.size();
        if (const QString why = nameProblem(segments, file.folder, file.name); !why.isEmpty())
            scan.problems.append(relative + u": "_s + why);
        else if (!info.isReadable())
            scan.problems.append(relative + u": cannot be read"_s);
        byName[file.name.toCaseFolded()].append(relative);
        scan.files.append(std::move(file));
    }
    for (auto i = byName.cbegin(); i != byName.cend(); ++i) {
        if (i.value().size() > 1) {
            QStringList paths = i.value();
            paths.sort();
            scan.problems.append(u"the site keeps every file in one folder, so these names "
                                 "collide: "_s +
                                 paths.join(u", "_s));
        }
    }
    std::sort(scan.files.begin(), scan.files.end(), [](const ReleaseFile& a, const ReleaseFile& b) {
        return std::tie(a.folder, a.name) < std::tie(b.folder, b.name);
    });
    scan.problems.sort();
    return scan;
}

std::optional<QByteArray> hashFile(const QString& path, QString* error, qint64* done, qint64 total,
                                   const Progress& progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + u": "_s + file.errorString();
        return std::nullopt;
    }
    verify::Sha256 hash;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(ChunkSize);
        if (chunk.isEmpty() && file.error() != QFileDevice::NoError) {
            *error = path + u": "_s + file.errorString();
            return std::nullopt;
        }
        hash.add(chunk);
        if (done) {
            *done += chunk.size();
            if (progress)
                progress(*done, total);
        }
    }
    return hash.result();
}

bool copyChecked(const QString& from, const QString& to, const QByteArray& expectedSha256,
                 QString* error)
{
    QFile source(from);
    QSaveFile target(to);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = from + u": "_s + source.errorString();
        return false;
    }
    if (!target.open(QIODevice::WriteOnly)) {
        *error = to + u": "_s + target.errorString();
        return false;
    }
    verify::Sha256 hash;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(ChunkSize);
        if ((chunk.isEmpty() && source.error() != QFileDevice::NoError) ||
            target.write(chunk) != chunk.size()) {
            *error =
                to + u": copy failed: "_s + source.errorString() + u" / "_s + target.errorString();
            target.cancelWriting();
            return false;
        }
        hash.add(chunk);
    }
    if (hash.result() != expectedSha256) {
        *error = from + u": changed while it was being published; nothing of it copied"_s;
        target.cancelWriting();
        return false;
    }
    if (!target.commit()) {
        *error = to + u": "_s + target.errorString();
        return false;
    }
    return true;
}

} // namespace publisher
