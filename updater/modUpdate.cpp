#include "modUpdate.h"

#include "FileSync.h"
#include "GameFolder.h"
#include "Inet.h"
#include "Numeric.h"
#include "ProfileFile.h"
#include "UpdateRules.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace modUpdate {

using namespace updaterules;

namespace {

QPointer<Inet> g_inet; // created on first use, owned by the application object

QString gamePath(const QString& name)
{
    return state().GameFolder + u'/' + name;
}

bool fileExists(const QString& name)
{
    return gamefolder::plainFileExists(gamePath(name));
}

QString readText(const profile::ParsedFile& file, QByteArrayView section, QByteArrayView key)
{
    const std::optional<QByteArray> raw = file.value(section, key);
    return raw ? modINI::valueText(*raw, file.encoding()) : QString();
}

ManifestEntry readEntry(const profile::ParsedFile& file, std::int32_t n)
{
    const QByteArray number = QByteArray::number(n);
    ManifestEntry entry;
    entry.FileName = readText(file, "FILES", QByteArray("FileName" + number));
    entry.FileVersion = readText(file, "FILES", QByteArray("FileVersion" + number));
    entry.FilePath = readText(file, "FILES", QByteArray("FilePath" + number));
    return entry;
}

bool hasName(const ManifestEntry& entry)
{
    return !entry.FileName.trimmed().isEmpty();
}

// True when UpdateFiles will download remote entry n (0-based).
bool willDownload(const RunState& s, qsizetype n)
{
    const ManifestEntry& remote = s.RemoteEntries.at(n);
    if (!hasName(remote) || isUnsafeEntry(remote.FilePath, remote.FileName))
        return false;
    const ManifestEntry& local = s.LocalEntries.at(n);
    return !hasName(local) || sortsAfter(remote.FileVersion, local.FileVersion);
}

// Folders below the game folder, created on demand and removed again when the
// download that needed them fails.
class FolderMaker
{
public:
    explicit FolderMaker(QString base) : m_current(std::move(base)) {}
    ~FolderMaker()
    {
        if (m_keep)
            return;
        for (auto it = m_created.crbegin(); it != m_created.crend(); ++it)
            QDir().rmdir(*it);
    }
    FolderMaker(const FolderMaker&) = delete;
    FolderMaker& operator=(const FolderMaker&) = delete;

    // Walks down `segments`; an existing folder whose name differs only in
    // letter case is used as spelled on disk.
    bool make(const QStringList& segments)
    {
        for (const QString& segment : segments) {
            const QString exact = m_current + u'/' + segment;
            if (QFileInfo(exact).isDir()) {
                m_current = exact;
                continue;
            }
            const QString existing = findFolderIgnoringCase(segment);
            if (!existing.isEmpty()) {
                m_current += u'/' + existing;
                continue;
            }
            if (QFileInfo::exists(exact) || !QDir(m_current).mkdir(segment))
                return false;
            m_created.push_back(exact);
            m_current = exact;
        }
        return true;
    }

    const QString& folder() const { return m_current; }
    const std::vector<QString>& created() const { return m_created; }
    void keep() { m_keep = true; }

private:
    QString findFolderIgnoringCase(const QString& name) const
    {
        const QStringList entries = QDir(m_current).entryList(QDir::Dirs | QDir::Hidden |
                                                              QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return entry;
        }
        return {};
    }

    QString m_current;
    std::vector<QString> m_created;
    bool m_keep = false;
};

// The game files of one run. Each is written to a part file beside its target
// and closed unsynced; only when the whole set has arrived is it made durable
// in one batch and renamed into place, so a failed, stopped or crashed update
// never leaves a mix of old and new files, and the disk is waited on once
// rather than once per file.
class StagedFiles
{
public:
    StagedFiles() = default;
    ~StagedFiles() { discard(); }
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // True for the names part files get: ".<name>.part-" and six letters or digits.
    static bool isPartName(QStringView name)
    {
        const qsizetype marker = name.lastIndexOf(PartMarker);
        if (!name.startsWith(u'.') || marker < 2 || name.size() - marker != PartMarker.size() + 6)
            return false;
        for (QChar c : name.last(6)) {
            if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
                return false;
        }
        return true;
    }

    // A part file and the file it will replace.
    struct Part
    {
        std::unique_ptr<QFile> file;
        QString target;
    };

    // A new, empty part file for `target`, open for writing; no file when none
    // can be made (a folder standing in the target's place included). A
    // symbolic link is followed, as a plain save would: its target is replaced.
    Part createPart(const QString& target)
    {
        Part part{nullptr, target};
        QFileInfo info(target);
        for (int depth = 0; depth < 128 && info.isSymLink(); ++depth) {
            part.target = info.symLinkTarget();
            info.setFile(part.target);
        }
        if (info.isDir())
            return part;
        const QString folder = info.path();
        if (!m_swept.contains(folder)) {
            m_swept.insert(folder);
            sweep(folder);
        }
        const QString prefix = folder + u'/' + u'.' + info.fileName() + PartMarker;
        for (int attempt = 0; attempt < 16; ++attempt) {
            auto file = std::make_unique<QFile>(prefix + randomSuffix());
            // Not QTemporaryFile: its files are private to the owner, game files are not.
            if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
                if (info.exists()) {
                    const QFileDevice::Permissions mode = info.permissions();
                    if (mode != QFileDevice::Permissions())
                        file->setPermissions(mode);
                }
                m_ownNames.insert(QFileInfo(file->fileName()).fileName());
                part.file = std::move(file);
                return part;
            }
            if (!file->exists())
                break; // not a name clash: the folder refuses
        }
        return part;
    }

    // Takes a part file whose body is complete. A later file for the same
    // target replaces an earlier one. `folders` were made for it and go again
    // if the run is not installed.
    void add(Part part, const QString& localName, const std::vector<QString>& folders)
    {
        part.file->close();
        Staged staged{part.file->fileName(), part.target, localName};
        const auto earlier = m_byTarget.constFind(part.target);
        if (earlier != m_byTarget.cend()) {
            QFile::remove(m_parts[*earlier].path);
            m_parts[*earlier] = std::move(staged);
        } else {
            m_byTarget.insert(part.target, m_parts.size());
            m_parts.push_back(std::move(staged));
        }
        m_folders.insert(m_folders.end(), folders.begin(), folders.end());
    }

    // Makes every part file durable and renames it over its target. Returns
    // the local names that could not be written; when the set cannot be made
    // durable, or a folder has taken a target's place, no target is touched.
    QStringList install()
    {
        QStringList paths;
        for (const Staged& part : m_parts)
            paths.append(part.path);
        QStringList failed = localNamesOf(filesync::syncFiles(paths));
        for (const Staged& part : m_parts) {
            if (QFileInfo(part.target).isDir())
                failed.append(part.localName);
        }
        if (!failed.isEmpty()) {
            discard();
            return failed;
        }

        QStringList folders;
        QSet<QString> listed;
        const auto listFolder = [&](const QString& folder) {
            if (!listed.contains(folder)) {
                listed.insert(folder);
                folders.append(folder);
            }
        };
        for (const Staged& part : m_parts) {
            std::error_code error;
            std::filesystem::rename(QFile(part.path).filesystemFileName(),
                                    QFile(part.target).filesystemFileName(), error);
            if (error) {
                // Another program holds the file (Windows): the rest still go in.
                QFile::remove(part.path);
                failed.append(part.localName);
                continue;
            }
            listFolder(QFileInfo(part.target).path());
        }
        // The folders made this run must be durable in their parents too.
        for (const QString& made : m_folders)
            listFolder(QFileInfo(made).path());
        for (const QString& folder : filesync::syncFolders(folders)) {
            const auto in = std::find_if(m_parts.cbegin(), m_parts.cend(), [&](const Staged& part) {
                return QFileInfo(part.target).path() == folder;
            });
            failed.append(in != m_parts.cend() ? in->localName : folder);
        }
        m_parts.clear();
        m_byTarget.clear();
        m_folders.clear();
        return failed;
    }

    // Removes every part file and the folders made for them.
    void discard()
    {
        for (const Staged& part : m_parts)
            QFile::remove(part.path);
        m_parts.clear();
        m_byTarget.clear();
        for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
            QDir().rmdir(*it); // only when empty: something else may have moved in
        m_folders.clear();
    }

private:
    static constexpr QStringView PartMarker = u".part-";

    struct Staged
    {
        QString path;
        QString target;
        QString localName;
    };

    static QString randomSuffix()
    {
        static constexpr char Letters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        QString suffix(6, Qt::Uninitialized);
        for (QChar& c : suffix)
            c = QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
        return suffix;
    }

    // Part files left by a run that crashed or lost its power. Ours are
    // spared: a link can lead to a folder already used under another name.
    void sweep(const QString& folder) const
    {
        const QStringList names = QDir(folder).entryList({u".*.part-??????"_s},
                                                         QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            if (isPartName(name) && !m_ownNames.contains(name))
                QFile::remove(folder + u'/' + name);
        }
    }

    QStringList localNamesOf(const QStringList& paths) const
    {
        const QSet<QString> wanted(paths.cbegin(), paths.cend());
        QStringList names;
        for (const Staged& part : m_parts) {
            if (wanted.contains(part.path))
                names.append(part.localName);
        }
        return names;
    }

    std::vector<Staged> m_parts;
    QHash<QString, size_t> m_byTarget; // where each target's part sits in m_parts
    std::vector<QString> m_folders;    // in the order they were made
    QSet<QString> m_swept;
    QSet<QString> m_ownNames; // of the part files this run made
};

// Shows the progress of one download in whole percent, as the body would be
// taken in 1024-byte steps, and only when the shown number changes.
class Progress
{
public:
    Progress(UpdateView& view, std::int64_t size) : m_view(view), m_size(size) {}

    void advance(std::int64_t from, std::int64_t to)
    {
        if (m_size <= 0)
            return;
        constexpr std::int64_t Step = 1024;
        // A quit can arrive from the window while a label is being set.
        const bool& quit = state().QuitRequested;
        for (std::int64_t at = (from / Step + 1) * Step; at <= to && at < m_size && !quit;
             at += Step)
            show(percentOf(at, m_size));
        if (to >= m_size && !quit)
            show(100);
    }

private:
    void show(int percent)
    {
        if (percent == m_shown)
            return;
        m_shown = percent;
        m_view.setLabel4(QString::number(percent) + u'%');
    }

    UpdateView& m_view;
    std::int64_t m_size;
    int m_shown = -1;
};

// -1 when the header is missing or not a plain non-negative number.
std::int64_t declaredLength(const Inet& net)
{
    const QString text = net.GetHeader(u"Content-Length"_s).trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}

bool isSuccessStatus(int status)
{
    return status >= 200 && status <= 299;
}

void deleteTempManifest()
{
    if (fileExists(u"temp.ini"_s))
        QFile::remove(gamePath(u"temp.ini"_s));
}

// The run could not finish: the installed version stays, the player may play it.
void endWithoutInstalling(UpdateView& view, const QString& status)
{
    RunState& s = state();
    view.setL2(status);
    if (!s.LocalVersion.isEmpty())
        view.setL4("Version "_L1 + s.LocalVersion);
    view.setL3(QString());
    view.setContinueEnabled(true);
    deleteTempManifest();
}

} // namespace

RunState& state()
{
    static RunState s;
    return s;
}

void resetState(const QString& gameFolder)
{
    RunState& s = state();
    s = RunState{};
    s.GameFolder = gameFolder;
}

Inet& inet()
{
    if (!g_inet) {
        g_inet = new Inet(QCoreApplication::instance());
        // Ends the transfer threads while the application object is still
        // whole; as a plain child it would go after it, too late for TLS.
        qAddPostRoutine([] { delete g_inet; });
    }
    return *g_inet;
}

void requestQuit()
{
    state().QuitRequested = true;
    if (g_inet)
        g_inet->Cancel();
}

namespace {

// One download. Without `staged` the target is replaced at once, synced; with
// it the body goes to a part file that the run installs with the rest.
bool fetchFile(UpdateView& view, const QString& remoteName, const QString& localName,
               StagedFiles* staged)
{
    RunState& s = state();
    if (localName.trimmed().isEmpty() || s.QuitRequested)
        return false;

    if (!s.SubFolder.isEmpty() && isSeparator(s.SubFolder.front()))
        s.SubFolder.remove(0, 1);
    if (!s.SubFolder.isEmpty() && isSeparator(s.SubFolder.back()))
        s.SubFolder.chop(1);

    if (isUnsafeEntry(s.SubFolder, localName)) {
        view.setL3("Skipped Unsafe File "_L1 + remoteName + u'!');
        return false;
    }
    QStringList folders = pathSegments(s.SubFolder);
    QStringList nameParts = pathSegments(localName);
    const QString fileName = nameParts.takeLast();
    folders.append(nameParts);

    const auto failed = [&] {
        view.setL3("Failed To Download "_L1 + remoteName + u'!');
        return false;
    };
    const auto notWritten = [&] {
        view.setL3("Could Not Write "_L1 + localName + u'!');
        return false;
    };

    Inet& net = inet();
    net.Execute(
        QUrl(s.BaseUrl + QString::fromLatin1(encodeRemoteName(remoteName)), QUrl::TolerantMode));

    FolderMaker maker(s.GameFolder);
    std::unique_ptr<QSaveFile> saved; // without `staged`
    StagedFiles::Part part;           // with it
    QFileDevice* out = nullptr;       // whichever is open
    // A part file not handed on to `staged` goes, whatever ends the download.
    const auto dropPart = qScopeGuard([&] {
        if (part.file)
            part.file->remove();
    });
    std::int64_t size = -1;
    std::int64_t received = 0;
    std::optional<Progress> progress;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);

    // The target is opened once a 2xx response is in, so error pages and
    // unreachable sites never create folders or files.
    const auto openTarget = [&] {
        if (!maker.make(folders))
            return false;
        const QString target = maker.folder() + u'/' + fileName;
        if (staged) {
            part = staged->createPart(target);
            out = part.file.get();
            return out != nullptr;
        }
        saved = std::make_unique<QSaveFile>(target);
        out = saved.get();
        return saved->open(QIODevice::WriteOnly);
    };

    for (;;) {
        if (s.QuitRequested) {
            net.Cancel();
            return false;
        }
        if (net.bytesAvailable() > 0 || (!net.StillExecuting() && net.hasResponse())) {
            if (!out) {
                const Inet::Outcome outcome = net.outcome();
                if (outcome != Inet::Outcome::Running && outcome != Inet::Outcome::Succeeded)
                    break;
                if (!isSuccessStatus(net.statusCode())) {
                    net.Cancel();
                    return failed();
                }
                size = declaredLength(net);
                progress.emplace(view, size);
                if (!openTarget()) {
                    net.Cancel();
                    return notWritten();
                }
            }
            const qint64 n = net.readChunk(buffer.data(), buffer.size());
            if (n > 0) {
                if (size >= 0 && received + n > size) {
                    net.Cancel();
                    return failed();
                }
                if (out->write(buffer.constData(), n) != n) {
                    net.Cancel();
                    return notWritten();
                }
                progress->advance(received, received + n);
                received += n;
                continue;
            }
        }
        if (!net.StillExecuting())
            break;
        if (!net.waitForActivity()) {
            requestQuit();
            return false;
        }
    }

    if (net.outcome() != Inet::Outcome::Succeeded || !isSuccessStatus(net.statusCode()) ||
        (size >= 0 && received != size))
        return failed();
    if (!out && !openTarget())
        return notWritten();
    if (staged)
        staged->add(std::move(part), localName, maker.created());
    else if (!saved->commit())
        return notWritten();
    maker.keep();

    QCoreApplication::processEvents();
    view.setL3("Downloaded "_L1 + remoteName + u'!');
    return true;
}

} // namespace

bool DownloadFile(UpdateView& view, const QString& remoteName, const QString& localName)
{
    return fetchFile(view, remoteName, localName, nullptr);
}

void LoadManifests()
{
    RunState& s = state();
    const qsizetype count = std::max<std::int32_t>(s.EntryCount, 0);
    s.LocalEntries = QVector<ManifestEntry>(count);
    s.RemoteEntries = QVector<ManifestEntry>(count);

    // Each manifest is read from one parse, not checked again for every value.
    const QString remoteFile = gamePath(u"temp.ini"_s);
    if (gamefolder::plainFileExists(remoteFile)) {
        const profile::ParsedFile remote = profile::readFile(remoteFile);
        for (qsizetype n = 0; n < count; ++n)
            s.RemoteEntries[n] = readEntry(remote, static_cast<std::int32_t>(n + 1));
    }

    const QString localFile = gamePath(u"info.ini"_s);
    if (gamefolder::plainFileExists(localFile)) {
        const profile::ParsedFile local = profile::readFile(localFile);
        // The installed list is read to its own length and matched by file,
        // so inserted or reordered entries pair correctly.
        const std::int32_t installedCount =
            entryCountFromMax(readText(local, "VERSION", "Max")).value_or(0);
        QHash<QString, ManifestEntry> installed;
        installed.reserve(installedCount);
        for (std::int32_t n = 1; n <= installedCount; ++n) {
            ManifestEntry entry = readEntry(local, n);
            if (!hasName(entry))
                continue;
            const QString key = fileKey(entry.FilePath, entry.FileName);
            if (!installed.contains(key))
                installed.insert(key, std::move(entry));
        }
        for (qsizetype n = 0; n < count; ++n) {
            const ManifestEntry& remote = s.RemoteEntries.at(n);
            if (!hasName(remote))
                continue;
            const auto it = installed.constFind(fileKey(remote.FilePath, remote.FileName));
            if (it != installed.cend())
                s.LocalEntries[n] = *it;
        }
    }

    s.PendingTotal = 0;
    for (qsizetype n = 0; n < count; ++n) {
        if (willDownload(s, n))
            ++s.PendingTotal;
    }
}

namespace {

bool walkEntries(UpdateView& view, StagedFiles& staged)
{
    RunState& s = state();
    view.setL2(QString());
    s.DownloadCounter = 0;
    bool complete = true;
    const qsizetype count = std::min<qsizetype>(s.RemoteEntries.size(), s.LocalEntries.size());
    for (qsizetype n = 0; n < count; ++n) {
        if (s.QuitRequested)
            return false;
        view.setL3(u"Checking Files..."_s);
        const ManifestEntry remote = s.RemoteEntries.at(n);
        const ManifestEntry local = s.LocalEntries.at(n);
        s.SubFolder = remote.FilePath.trimmed();

        if (!hasName(remote)) {
            s.SubFolder.clear();
            continue;
        }
        if (isUnsafeEntry(remote.FilePath, remote.FileName)) {
            view.setL3("Skipped Unsafe File "_L1 + remote.FileName + u'!');
            complete = false;
            s.SubFolder.clear();
            continue;
        }

        const auto counterText = [&]() -> QString {
            return "Downloading File "_L1 + QString::number(s.DownloadCounter) + " Of "_L1 +
                   QString::number(s.PendingTotal);
        };
        bool ok = true;
        if (!hasName(local)) {
            ++s.DownloadCounter;
            view.setL2("Downloading "_L1 + remote.FileName + "..."_L1);
            view.setL3(counterText());
            ok = fetchFile(view, remote.FileName, remote.FileName, &staged);
        } else {
            const int order = compareVersions(remote.FileVersion, local.FileVersion);
            if (order > 0) {
                ++s.DownloadCounter;
                view.setL3(counterText());
                view.setL2("Updating "_L1 + local.FileName + " From Version "_L1 +
                           local.FileVersion + " To "_L1 + remote.FileVersion + "..."_L1);
                ok = fetchFile(view, remote.FileName, remote.FileName, &staged);
            } else if (order == 0) {
                view.setL2(u"File Already Up To Date!"_s);
            }
        }
        if (s.QuitRequested)
            return false;
        complete = complete && ok;
        s.LocalEntries[n] = remote;
        s.SubFolder.clear();
    }
    return complete;
}

} // namespace

bool UpdateFiles(UpdateView& view)
{
    RunState& s = state();
    if (s.QuitRequested)
        return false;
    StagedFiles staged;
    // An incomplete or stopped run installs nothing: the staged files go.
    if (!walkEntries(view, staged) || s.QuitRequested)
        return false;
    const QStringList failed = staged.install();
    for (const QString& localName : failed)
        view.setL3("Could Not Write "_L1 + localName + u'!');
    return failed.isEmpty();
}

void UpdateRun(UpdateView& view)
{
    RunState& s = state();
    s.EntryCount = 0;
    s.SubFolder.clear();

    const QString updaterIni = gamePath(u"Updater.ini"_s);
    if (!gamefolder::plainFileExists(updaterIni))
        modINI::WriteINI(u"UPDATER"_s, u"WebSite"_s, QString(), updaterIni);
    s.BaseUrl = modINI::GetINI(updaterIni, u"UPDATER"_s, u"WebSite"_s);

    const QString infoIni = gamePath(u"info.ini"_s);
    const QString tempIni = gamePath(u"temp.ini"_s);
    if (gamefolder::plainFileExists(infoIni))
        s.LocalVersion = modINI::GetINI(infoIni, u"VERSION"_s, u"Version"_s);

    s.BaseUrl = normaliseWebSite(s.BaseUrl);

    view.showWindow();
    if (!s.LocalVersion.isEmpty())
        view.setL4("Version "_L1 + s.LocalVersion);
    else
        view.setL2(u"No Version Info!"_s);

    if (s.BaseUrl.isEmpty()) {
        view.setContinueEnabled(true);
        view.setL2(u"Please Input The Correct Web URL!"_s);
        return;
    }
    if (s.QuitRequested)
        return;

    view.setContinueEnabled(false);
    view.setL2(u"Getting News..."_s);
    view.setL2(u"Getting Information..."_s);

    const bool manifestArrived = DownloadFile(view, u"info.ini"_s, u"temp.ini"_s);
    if (s.QuitRequested)
        return;

    std::optional<std::int32_t> count;
    if (manifestArrived) {
        s.GameFile = modINI::GetINI(tempIni, u"VERSION"_s, u"GameFileName"_s);
        count = entryCountFromMax(modINI::GetINI(tempIni, u"VERSION"_s, u"Max"_s));
        s.RemoteVersion = modINI::GetINI(tempIni, u"VERSION"_s, u"Version"_s);
    }
    if (!count || s.RemoteVersion.isEmpty()) {
        endWithoutInstalling(view, u"Could Not Get Update Information!"_s);
        return;
    }
    s.EntryCount = *count;
    s.LocalEntries = QVector<ManifestEntry>(s.EntryCount);
    s.RemoteEntries = QVector<ManifestEntry>(s.EntryCount);

    if (s.RemoteVersion != s.LocalVersion) {
        view.setL2(u"Checking File Versions..."_s);
        bool complete = true;
        if (s.QuitRequested)
            return;
        if (s.EntryCount > 0) {
            LoadManifests();
            complete = UpdateFiles(view);
        }
        if (s.QuitRequested)
            return;
        // Only a complete set of files may be recorded as installed.
        if (complete)
            complete = DownloadFile(view, u"info.ini"_s, u"info.ini"_s);
        if (s.QuitRequested)
            return;
        if (!complete) {
            endWithoutInstalling(view, u"Update Incomplete, Please Try Again!"_s);
            return;
        }
        view.setContinueEnabled(true);
        view.setL4("Version "_L1 + s.RemoteVersion);
        view.setL2("Updated To Version "_L1 + s.RemoteVersion + u'!');
        view.setL3(QString());
    } else {
        view.setL4("Version "_L1 + s.RemoteVersion);
        view.setL2(u"You Have The Latest Version!"_s);
        view.setL3(QString());
        view.setContinueEnabled(true);
    }
    deleteTempManifest();
}

} // namespace modUpdate
