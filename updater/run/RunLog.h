#pragma once

// The run log for support: each run appends what it did to Quorvane.log in
// the game folder (start, site, versions, each file with its HTTP status,
// bytes, time and outcome, the final status). The file is kept under 1 MiB
// by dropping its oldest half, and replaced atomically like every other file
// the updater writes. A log that cannot be written never stops an update.

#include <QByteArray>
#include <QString>

class GameDir;
#include <QStringList>

class RunLog
{
public:
    static constexpr QStringView FileName = u"Quorvane.log";
    static constexpr qint64 MaxBytes = 1024 * 1024;

    RunLog() = default;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // A line stamped with the time (UTC). Whatever in it is not printable
    // (line and paragraph separators, controls, format characters, broken
    // surrogates) is escaped, so text from a site or a server can never start
    // a line of its own or hide what follows.
    void add(const QString& line);

    // `text` with "\\" for a backslash, "\xNN" or "\u{N}" for every code
    // point that is not printable.
    static QString escaped(QStringView text);
    // Appends what was added since the last flush to the log in `gameFolder`;
    // false when it could not.
    bool flush(const GameDir& gameFolder);

    // `existing` with `lines` appended, its oldest half dropped (at a line
    // boundary) as often as needed to stay under `limit` bytes.
    static QByteArray appended(QByteArray existing, const QByteArray& lines, qint64 limit);

private:
    QByteArray m_pending;
};
