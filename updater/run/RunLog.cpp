#include "RunLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

bool RunLog::flush()
{
    if (m_pending.isEmpty())
        return true;
    const QString path = m_gameFolder + u'/' + FileName;
    QByteArray existing;
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return false;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly))
        existing = old.read(MaxBytes);
    QSaveFile file(path);
    const QByteArray text = appended(std::move(existing), m_pending, MaxBytes);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return false;
    m_pending.clear();
    return true;
}
