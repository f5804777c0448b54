// Mended installs: a file the installed manifest lists is fetched again when
// it is missing or of another size, and with --verify when its SHA-256
// differs, even when its version is current.

#include "UpdateSession.h"

#include "GameDir.h"
#include "InstalledCheck.h"
#include "Manifest.h"
#include "Progress.h"
#include "UpdateRules.h"
#include "UpdateView.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

const char* why(delta::Installed state)
{
    switch (state) {
    case delta::Installed::Missing:
        return "missing";
    case delta::Installed::OtherSize:
        return "of another size";
    default:
        return "of other content";
    }
}

} // namespace

// Entries whose versions are equal, that name a safe file the installed
// manifest lists and that are not marked yet.
bool UpdateSession::repairCandidate(qsizetype n) const
{
    const ManifestEntry& remote = m_state.RemoteEntries.at(n);
    const ManifestEntry& local = m_state.LocalEntries.at(n);
    return hasName(remote) && hasName(local) && !m_state.Mending.contains(n) &&
           !updaterules::isUnsafeEntry(remote.FilePath, remote.FileName) &&
           updaterules::compareVersions(remote.FileVersion, local.FileVersion) == 0;
}

void UpdateSession::markRepair(qsizetype n, delta::Installed state)
{
    const ManifestEntry& remote = m_state.RemoteEntries.at(n);
    m_state.Mending.insert(n);
    ++m_state.PendingTotal;
    if (remote.FileSize &&
        *remote.FileSize <= std::numeric_limits<qint64>::max() - m_state.PendingBytes)
        m_state.PendingBytes += *remote.FileSize;
    m_log.add(
        u"file %1: %2, fetched again"_s.arg(remote.FileName, QString::fromLatin1(why(state))));
}

void UpdateSession::findRepairs()
{
    m_state.Mending.clear();
    if (!root())
        return;
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        // Without a size the installed manifest promises nothing to check against.
        if (!repairCandidate(n) || !m_state.LocalEntries.at(n).FileSize)
            continue;
        const delta::Installed state = delta::checkInstalled(*root(), m_state.LocalEntries.at(n));
        if (delta::needsFetch(state))
            markRepair(n, state);
    }
}

bool UpdateSession::needsRepair()
{
    if (m_verify)
        return true;
    if (m_state.EntryCount <= 0)
        return false;
    LoadManifests();
    return !m_state.Mending.isEmpty();
}

// Hashes the files on a worker thread while the window shows the share done.
void UpdateSession::verifyInstalled()
{
    QList<qsizetype> todo;
    qint64 total = 0;
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        if (repairCandidate(n) && m_state.LocalEntries.at(n).FileHash) {
            todo.append(n);
            total += m_state.LocalEntries.at(n).FileSize.value_or(0);
        }
    }
    if (todo.isEmpty() || !root() || m_quit)
        return;
    m_view.setStatus(u"Verifying Files..."_s);
    std::atomic<qint64> hashed{0};
    std::atomic_bool stop{false};
    QList<delta::Installed> results(todo.size(), delta::Installed::Intact);
    const GameDir& folder = *root();
    const QVector<ManifestEntry>& local = m_state.LocalEntries;
    const std::unique_ptr<QThread> worker(QThread::create([&] {
        for (qsizetype i = 0; i < todo.size() && !stop; ++i)
            results[i] = delta::verifyInstalled(folder, local.at(todo[i]), hashed, stop);
    }));
    Progress progress(total, [this](const QString& text) { m_view.setProgress(text); });
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [&] { progress.advanceTo(hashed); });
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    worker->start();
    tick.start(100);
    loop.exec();
    m_waiting = nullptr;
    stop = true; // the player quit: the worker stops within one read
    worker->wait();
    if (m_quit)
        return;
    progress.advanceTo(total);
    for (qsizetype i = 0; i < todo.size(); ++i) {
        if (delta::needsFetch(results[i]))
            markRepair(todo[i], results[i]);
    }
}
