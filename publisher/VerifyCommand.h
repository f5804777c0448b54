#pragma once

// "verify": checks a published site as a player's updater would — every
// listed file against its size and hash, the manifest's keys, and the
// signature when a public key is given.

#include <QDateTime>
#include <QString>
#include <QTextStream>

#include <optional>

namespace publisher {

struct VerifyOptions
{
    QString siteDir;
    std::optional<QString> publicKeys; // --key: one or two base64 keys, as in Updater.ini
    QDateTime now;
};

// Exit status 0 only when everything holds; each failure is listed on `err`.
int runVerify(const VerifyOptions& options, QTextStream& out, QTextStream& err);

} // namespace publisher
