#pragma once

// "build": lays a release folder out on the site. Every check runs before the
// first write, so bad input leaves the site as it was; files are copied first
// and the manifest and its signature are saved last, each atomically.

#include <QDateTime>
#include <QString>
#include <QTextStream>

#include <optional>

namespace publisher {

// How long a signed manifest stays valid when --expires does not say.
inline constexpr int DefaultExpiresDays = 90;

struct BuildOptions
{
    QString releaseDir;
    QString siteDir;
    QString version;
    std::optional<QString> secretKeyFile; // --sign
    std::optional<int> expiresDays;       // --expires
    QDateTime now;                        // start of the expiry period
    int deltas = 2;                       // --deltas: patches from this many earlier releases
};

// Exit status: 0 when the site was published. Progress and errors go to
// `err`, the summary to `out`.
int runBuild(const BuildOptions& options, QTextStream& out, QTextStream& err);

} // namespace publisher
