#pragma once

// The tool's command line: keygen, build and verify.

#include <QDateTime>
#include <QStringList>
#include <QTextStream>

namespace publisher {

// Runs the command in `arguments` (without the program name); returns the
// exit status: 0 done, 1 failed, 2 the command line was wrong.
int runPublisher(const QStringList& arguments, QTextStream& out, QTextStream& err,
                 const QDateTime& now);

// "keygen": writes a new secret key file and prints "PublicKey=<base64>".
int runKeygen(const QString& secretKeyFile, QTextStream& out, QTextStream& err);

} // namespace publisher
