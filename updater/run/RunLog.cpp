#include "RunLog.h"

#include "GameDir.h"

#include <QDateTime>

void RunLog::add(const QString& line)
{
    m_pending += QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                 line.toUtf8() + '\n';
}

QByteArray RunLog::appended(QByteArray existing, const QByteArray& lines, qint64 limit)
{
    existing += lines;
    while (existing.size() >= limit && !existing.isEmpty()) {
        const qsizetype cut = existing.indexOf('\n', existing.size() / 2);
        existing = cut < 0 ? QByteArray() : existing.mid(cut + 1);
    }
    return existing;
}

bool RunLog::flush(const GameDir& gameFolder)
{
    if (!writeTo(gameFolder, m_pending))
        return false;
    m_pending.clear();
    return true;
}

bool RunLog::writeTo(const GameDir& gameFolder, const QByteArray& lines)
{
    if (lines.isEmpty())
        return true;
    const QString name = FileName.toString();
    QByteArray existing;
    switch (gameFolder.kindOf(name)) {
    case GameDir::Kind::Missing:
        break;
    case GameDir::Kind::File:
        existing = gameFolder.readFile(name, 2 * MaxBytes).value_or(QByteArray());
        break;
    default:
        return false; // never written through a link or into something else
    }
    return gameFolder.writeFileAtomically(name, appended(std::move(existing), lines, MaxBytes));
}
