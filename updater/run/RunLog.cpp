#include "RunLog.h"

#include "GameDir.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace {

// Qt counts line and paragraph separators as printable; a log line does not.
bool isPrintable(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return !QChar::isSurrogate(c) && QChar::isPrint(c) && category != QChar::Separator_Line &&
           category != QChar::Separator_Paragraph;
}

} // namespace

QString RunLog::escaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        }
        if (c == u'\\')
            out += u"\\\\"_s;
        else if (!isPrintable(c))
            out += c < 0x100 ? u"\\x%1"_s.arg(uint(c), 2, 16, QChar(u'0'))
                             : u"\\u{%1}"_s.arg(uint(c), 0, 16);
        else
            out += text.sliced(i, width);
        i += width;
    }
    return out;
}

void RunLog::add(const QString& line)
{
    m_pending += QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                 escaped(line).toUtf8() + '\n';
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
    if (m_pending.isEmpty())
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
    if (!gameFolder.writeFileAtomically(name, appended(std::move(existing), m_pending, MaxBytes)))
        return false;
    m_pending.clear();
    return true;
}
