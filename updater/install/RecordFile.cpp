#include "RecordFile.h"

using namespace Qt::StringLiterals;

namespace recordfile {

Parsed parse(const QByteArray& bytes, QByteArrayView header, int fieldCount)
{
    Parsed parsed;
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.front() != header) {
        parsed.refused.append(u"line 1: not the header \"%1\""_s.arg(QString::fromUtf8(header)));
        return parsed;
    }
    parsed.headerOk = true;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        Row row{int(i + 1), line.split('\t')};
        if (row.fields.size() != fieldCount) {
            parsed.refused.append(u"line %1: %2 fields where %3 belong"_s.arg(row.line)
                                      .arg(row.fields.size())
                                      .arg(fieldCount));
            continue;
        }
        parsed.rows.append(std::move(row));
    }
    return parsed;
}

std::optional<QByteArray> render(QByteArrayView header, const QList<QList<QByteArray>>& rows)
{
    QByteArray text = header.toByteArray() + '\n';
    for (const QList<QByteArray>& fields : rows) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (fields.at(i).contains('\t') || fields.at(i).contains('\n'))
                return std::nullopt;
            text += fields.at(i);
            text += i + 1 < fields.size() ? '\t' : '\n';
        }
    }
    return text;
}

} // namespace recordfile
