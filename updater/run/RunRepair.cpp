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

#include <QTimer>

#include <atomic>
#include <limits>
#include <memory>

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

// The files checked on the disk thread, and what was found; `hashed` counts
// the bytes --verify read.
struct FileChecks
{
    QList<qsizetype> todo; // positions in the manifests
    QVector<ManifestEntry> entries;
    QList<delta::Installed> results;
    std::atomic<qint64> hashed{0};
};

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

void UpdateSession::findRepairs(std::function<void()> then)
{
    m_state.Mending.clear();
    auto checking = std::make_shared<FileChecks>();
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        // Without a size the installed manifest promises nothing to check against.
        if (repairCandidate(n) && m_state.LocalEntries.at(n).FileSize) {
            checking->todo.append(n);
            checking->entries.append(m_state.LocalEntries.at(n));
        }
    }
    const GameDir* folder = root();
    if (checking->todo.isEmpty() || !folder)
        return then();
    checking->results.fill(delta::Installed::Intact, checking->todo.size());
    onDisk(
        [checking, folder] {
            for (qsizetype i = 0; i < checking->todo.size(); ++i)
                checking->results[i] = delta::checkInstalled(*folder, checking->entries.at(i));
        },
        [this, checking, then = std::move(then)] {
            for (qsizetype i = 0; i < checking->todo.size(); ++i) {
                if (delta::needsFetch(checking->results[i]))
                    markRepair(checking->todo[i], checking->results[i]);
            }
            then();
        });
}

// Hashes the files on the disk thread while the window shows the share
// done; `then` follows once every file is judged.
void UpdateSession::verifyInstalled(std::function<void()> then)
{
    auto hashing = std::make_shared<FileChecks>();
    qint64 total = 0;
    for (qsizetype n = 0; n < m_state.RemoteEntries.size(); ++n) {
        if (repairCandidate(n) && m_state.LocalEntries.at(n).FileHash) {
            hashing->todo.append(n);
            hashing->entries.append(m_state.LocalEntries.at(n));
            total += m_state.LocalEntries.at(n).FileSize.value_or(0);
        }
    }
    if (hashing->todo.isEmpty() || !root())
        return then();
    hashing->results.fill(delta::Installed::Intact, hashing->todo.size());
    m_view.setStatus(u"Verifying Files..."_s);
    if (m_quit) // a text shown may let the player quit
        return;
    auto progress = std::make_shared<Progress>(
        total, [this](const QString& text) { m_view.setProgress(text); });
    disconnect(&m_verifyTick, &QTimer::timeout, this, nullptr);
    connect(&m_verifyTick, &QTimer::timeout, this,
            [hashing, progress] { progress->advanceTo(hashing->hashed); });
    m_verifyTick.start(100);
    const GameDir* folder = root();
    onDisk(
        [hashing, folder, &stop = m_disk.stopFlag()] {
            // A quit stops the reading within one block.
            for (qsizetype i = 0; i < hashing->todo.size() && !stop; ++i)
                hashing->results[i] =
                    delta::verifyInstalled(*folder, hashing->entries.at(i), hashing->hashed, stop);
        },
        [this, hashing, progress, total, then = std::move(then)] {
            m_verifyTick.stop();
            progress->advanceTo(total);
            for (qsizetype i = 0; i < hashing->todo.size(); ++i) {
                if (delta::needsFetch(hashing->results[i]))
                    markRepair(hashing->todo[i], hashing->results[i]);
            }
            then();
        });
}
