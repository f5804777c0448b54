#include "UpdateSession.h"

#include "FileQueue.h"
#include "FolderMaker.h"
#include "GameFolder.h"
#include "Inet.h"
#include "Manifest.h"
#include "Progress.h"
#include "StagedFiles.h"
#include "UpdateRules.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Replaces one file atomically once its body is complete (the manifest, and
// single files fetched without a run).
class SaveFileSink final : public transfer::BodySink
{
public:
    SaveFileSink(const QString& gameFolder, QStringList folders, QString fileName)
        : m_maker(gameFolder), m_folders(std::move(folders)), m_fileName(std::move(fileName))
    {}

    bool open(const transfer::Head&) override
    {
        if (!m_maker.make(m_folders))
            return false;
        m_file = std::make_unique<QSaveFile>(m_maker.folder() + u'/' + m_fileName);
        return m_file->open(QIODevice::WriteOnly);
    }
    bool write(const char* data, qint64 size) override { return m_file->write(data, size) == size; }
    QString errorString() const override
    {
        return m_file ? m_file->errorString() : u"cannot make the folder"_s;
    }
    bool commit()
    {
        if (!m_file && !open({}))
            return false;
        if (!m_file->commit())
            return false;
        m_maker.keep();
        return true;
    }

private:
    FolderMaker m_maker;
    QStringList m_folders;
    QString m_fileName;
    std::unique_ptr<QSaveFile> m_file;
};

} // namespace

UpdateSession::UpdateSession(QString gameFolder, Inet& inet, UpdateView& view, QObject* parent)
    : QObject(parent), m_gameFolder(std::move(gameFolder)), m_inet(inet), m_view(view)
{}

UpdateSession::~UpdateSession() = default;

QString UpdateSession::gamePath(const QString& name) const
{
    return m_gameFolder + u'/' + name;
}

int UpdateSession::connectionsFrom(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int value = trimmed.toInt(&ok);
    const bool digitsOnly =
        !trimmed.isEmpty() && std::all_of(trimmed.cbegin(), trimmed.cend(),
                                          [](QChar c) { return c >= u'0' && c <= u'9'; });
    return ok && digitsOnly && value >= 1 && value <= MaxConnections ? value : DefaultConnections;
}

void UpdateSession::requestQuit()
{
    m_quit = true;
    if (m_current)
        m_current->cancel();
    if (m_queue)
        m_queue->cancel();
}

bool UpdateSession::DownloadFile(const QString& remoteName, const QString& localName,
                                 const QString& subFolder)
{
    if (localName.trimmed().isEmpty() || m_quit)
        return false;
    QString folder = subFolder.trimmed();
    if (!folder.isEmpty() && updaterules::isSeparator(folder.front()))
        folder.remove(0, 1);
    if (!folder.isEmpty() && updaterules::isSeparator(folder.back()))
        folder.chop(1);
    if (updaterules::isUnsafeEntry(folder, localName)) {
        m_view.setL3("Skipped Unsafe File "_L1 + remoteName + u'!');
        return false;
    }
    QStringList folders = updaterules::pathSegments(folder);
    QStringList nameParts = updaterules::pathSegments(localName);
    const QString fileName = nameParts.takeLast();
    folders.append(nameParts);

    SaveFileSink sink(m_gameFolder, folders, fileName);
    transfer::Validators checks;
    if (remoteName == "info.ini"_L1)
        checks.push_back(std::make_unique<transfer::SizeLimit>(MaxManifestBytes));
    const QUrl url(m_state.BaseUrl + QString::fromLatin1(updaterules::encodeRemoteName(remoteName)),
                   QUrl::TolerantMode);
    std::unique_ptr<transfer::Transfer> transfer = m_inet.start(url, sink, std::move(checks));
    m_current = transfer.get();
    std::optional<Progress> progress;
    connect(transfer.get(), &transfer::Transfer::progressed, this,
            [&](qint64 received, qint64 declared) {
                if (!progress)
                    progress.emplace(declared, [this](const QString& t) { m_view.setLabel4(t); });
                progress->advanceTo(received);
            });
    QEventLoop loop;
    connect(transfer.get(), &transfer::Transfer::finished, &loop, &QEventLoop::quit);
    if (!transfer->isFinished())
        loop.exec();
    m_current = nullptr;

    if (m_quit || transfer->outcome() == transfer::Outcome::Cancelled)
        return false;
    if (transfer->outcome() == transfer::Outcome::Complete) {
        if (progress)
            progress->advanceTo(transfer->received());
        if (!sink.commit()) {
            m_view.setL3("Could Not Write "_L1 + localName + u'!');
            return false;
        }
        m_view.setL3("Downloaded "_L1 + remoteName + u'!');
        return true;
    }
    if (transfer->outcome() == transfer::Outcome::WriteFailed) {
        m_view.setL3("Could Not Write "_L1 + localName + u'!');
        return false;
    }
    m_view.setL3("Failed To Download "_L1 + remoteName + u'!');
    return false;
}

void UpdateSession::LoadManifests()
{
    const std::int32_t count = std::max<std::int32_t>(m_state.EntryCount, 0);
    m_state.RemoteEntries.clear();
    m_state.LocalEntries.clear();
    const QString remoteFile = gamePath(u"temp.ini"_s);
    if (gamefolder::plainFileExists(remoteFile))
        m_state.RemoteEntries = Manifest::load(remoteFile).entries(count);
    m_state.LocalEntries = QVector<ManifestEntry>(m_state.RemoteEntries.size());
    const QString localFile = gamePath(u"info.ini"_s);
    if (gamefolder::plainFileExists(localFile))
        m_state.LocalEntries = pairInstalled(m_state.RemoteEntries, Manifest::load(localFile));

    m_state.PendingTotal = 0;
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        const ManifestEntry& remote = m_state.RemoteEntries.at(n);
        const ManifestEntry& local = m_state.LocalEntries.at(n);
        if (!hasName(remote) || updaterules::isUnsafeEntry(remote.FilePath, remote.FileName))
            continue;
        if (!hasName(local) || updaterules::sortsAfter(remote.FileVersion, local.FileVersion))
            ++m_state.PendingTotal;
    }
}

bool UpdateSession::UpdateFiles()
{
    if (m_quit)
        return false;
    m_view.setL2(QString());
    m_state.DownloadCounter = 0;
    StagedFiles staged; // an incomplete or stopped run installs nothing
    FileQueue queue(m_inet, m_view, staged,
                    {m_gameFolder, m_state.BaseUrl, m_state.Connections, m_state.PendingTotal});
    m_queue = &queue;
    const bool complete =
        queue.run(m_state.RemoteEntries, m_state.LocalEntries, m_state.DownloadCounter);
    m_queue = nullptr;
    if (!queue.firstFailure().isEmpty() && m_firstFailure.isEmpty())
        m_firstFailure = queue.firstFailure();
    if (!complete || m_quit)
        return false;
    m_state.LocalEntries = m_state.RemoteEntries;
    const QStringList failed = staged.install();
    for (const QString& localName : failed) {
        const QString text = "Could Not Write "_L1 + localName + u'!';
        if (m_firstFailure.isEmpty())
            m_firstFailure = text;
        m_view.setL3(text);
    }
    return failed.isEmpty();
}

void UpdateSession::deleteTempManifest()
{
    if (gamefolder::plainFileExists(gamePath(u"temp.ini"_s)))
        QFile::remove(gamePath(u"temp.ini"_s));
}

// The run could not finish: the installed version stays, the player may play it.
void UpdateSession::endWithoutInstalling(const QString& status)
{
    m_view.setL2(status);
    if (!m_state.LocalVersion.isEmpty())
        m_view.setL4("Version "_L1 + m_state.LocalVersion);
    m_view.setL3(QString());
    m_view.setContinueEnabled(true);
    deleteTempManifest();
}

// Reads the header of the downloaded manifest; false when there is none worth using.
bool UpdateSession::fetchManifest()
{
    if (!DownloadFile(u"info.ini"_s, u"temp.ini"_s))
        return false;
    const Manifest manifest = Manifest::load(gamePath(u"temp.ini"_s));
    m_state.GameFile = manifest.gameFileName();
    m_state.RemoteVersion = manifest.version();
    const std::optional<std::int32_t> count = manifest.entryCount();
    if (!count || m_state.RemoteVersion.isEmpty())
        return false;
    m_state.EntryCount = *count;
    return true;
}

void UpdateSession::finishUpdate()
{
    m_view.setL2(u"Checking File Versions..."_s);
    bool complete = true;
    if (m_state.EntryCount > 0) {
        LoadManifests();
        complete = UpdateFiles();
    }
    if (m_quit)
        return;
    // Only a complete set of files may be recorded as installed.
    if (complete)
        complete = DownloadFile(u"info.ini"_s, u"info.ini"_s);
    if (m_quit)
        return;
    if (!complete) {
        endWithoutInstalling(u"Update Incomplete, Please Try Again!"_s);
        return;
    }
    m_view.setContinueEnabled(true);
    m_view.setL4("Version "_L1 + m_state.RemoteVersion);
    m_view.setL2("Updated To Version "_L1 + m_state.RemoteVersion + u'!');
    m_view.setL3(QString());
    deleteTempManifest();
}

void UpdateSession::UpdateRun()
{
    m_state.EntryCount = 0;
    const QString updaterIni = gamePath(u"Updater.ini"_s);
    if (!gamefolder::plainFileExists(updaterIni))
        modINI::WriteINI(u"UPDATER"_s, u"WebSite"_s, QString(), updaterIni);
    m_state.BaseUrl =
        updaterules::normaliseWebSite(modINI::GetINI(updaterIni, u"UPDATER"_s, u"WebSite"_s));
    m_state.Connections =
        connectionsFrom(modINI::GetINI(updaterIni, u"UPDATER"_s, u"Connections"_s));
    const QString infoIni = gamePath(u"info.ini"_s);
    if (gamefolder::plainFileExists(infoIni))
        m_state.LocalVersion = modINI::GetINI(infoIni, u"VERSION"_s, u"Version"_s);

    m_view.showWindow(m_state.BaseUrl);
    if (!m_state.LocalVersion.isEmpty())
        m_view.setL4("Version "_L1 + m_state.LocalVersion);
    else
        m_view.setL2(u"No Version Info!"_s);

    if (m_state.BaseUrl.isEmpty()) {
        m_view.setContinueEnabled(true);
        m_view.setL2(u"Please Input The Correct Web URL!"_s);
        return;
    }
    if (m_quit)
        return;

    m_view.setContinueEnabled(false);
    m_view.setL2(u"Getting News..."_s);
    m_view.setL2(u"Getting Information..."_s);

    const bool usable = fetchManifest();
    if (m_quit)
        return;
    if (!usable) {
        endWithoutInstalling(u"Could Not Get Update Information!"_s);
        return;
    }
    if (m_state.RemoteVersion != m_state.LocalVersion) {
        finishUpdate();
        return;
    }
    m_view.setL4("Version "_L1 + m_state.RemoteVersion);
    m_view.setL2(u"You Have The Latest Version!"_s);
    m_view.setL3(QString());
    m_view.setContinueEnabled(true);
    deleteTempManifest();
}
