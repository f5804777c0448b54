#include "ResumeIndex.h"

#include "RecordFile.h"
#include "UpdateRules.h"

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView Header = "quorvane-resume 1";
constexpr qint64 MaxIndexBytes = 16 * 1024 * 1024;

bool sameFile(const ResumeRecord& a, const ResumeRecord& b)
{
    return a.url == b.url && a.size == b.size && a.hash == b.hash;
}

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

} // namespace

ResumeIndex::ResumeIndex(const GameDir& root) : m_root(root)
{
    QString error;
    const auto bytes = root.readFile(FileName.toString(), MaxIndexBytes, &error);
    if (!bytes) {
        if (root.kindOf(FileName.toString()) != GameDir::Kind::Missing)
            m_refused.append(error);
        return;
    }
    recordfile::Parsed parsed = recordfile::parse(*bytes, Header, 7);
    for (const recordfile::Row& row : std::as_const(parsed.rows)) {
        const QList<QByteArray>& f = row.fields;
        ResumeRecord r{QString::fromUtf8(f[0]),
                       QString::fromUtf8(f[1]),
                       QString::fromUtf8(f[2]),
                       QString::fromUtf8(f[3]),
                       f[4].toLongLong(),
                       f[5],
                       f[6]};
        // Only names the updater itself could have made.
        if (updaterules::isUnsafeEntry(QString(), r.target) ||
            (!r.folderPath.isEmpty() && updaterules::isUnsafeEntry(r.folderPath, r.part))) {
            parsed.refused.append(u"line %1: a name the updater would not make"_s.arg(row.line));
            continue;
        }
        m_records.insert(keyOf(r.target), r);
    }
    for (const QString& why : std::as_const(parsed.refused))
        m_refused.append(FileName + u" refused, "_s + why);
}

std::optional<ResumeRecord> ResumeIndex::take(const QString& target, const QString& url,
                                              qint64 size, const QByteArray& hash)
{
    const auto it = m_records.constFind(keyOf(target));
    if (it == m_records.cend() || !sameFile(*it, {target, {}, {}, url, size, hash, {}}))
        return std::nullopt;
    ResumeRecord record = *it;
    m_records.erase(it);
    return record;
}

void ResumeIndex::put(const ResumeRecord& record)
{
    m_records.insert(keyOf(record.target), record);
}

void ResumeIndex::remove(const QString& target)
{
    m_records.remove(keyOf(target));
}

void ResumeIndex::prune(const QHash<QString, ResumeRecord>& wanted)
{
    for (auto it = m_records.begin(); it != m_records.end();) {
        const auto want = wanted.constFind(it.key());
        if (want != wanted.cend() && sameFile(*it, *want)) {
            ++it;
            continue;
        }
        if (auto folder = m_root.openSub(it->folderPath.split(u'/', Qt::SkipEmptyParts), false);
            folder && folder->kindOf(it->part) == GameDir::Kind::File)
            folder->removeFile(it->part);
        it = m_records.erase(it);
    }
}

QSet<QString> ResumeIndex::parts() const
{
    QSet<QString> parts;
    for (const ResumeRecord& r : m_records)
        parts.insert(joined(r.folderPath, r.part));
    return parts;
}

bool ResumeIndex::save() const
{
    if (m_records.isEmpty()) {
        if (m_root.kindOf(FileName.toString()) == GameDir::Kind::File)
            return m_root.removeFile(FileName.toString());
        return true;
    }
    QList<QList<QByteArray>> rows;
    for (const ResumeRecord& r : m_records) {
        // A validator that could break the layout is not kept: that file starts over.
        if (r.validator.contains('\t') || r.validator.contains('\n'))
            continue;
        rows.append({r.target.toUtf8(), r.folderPath.toUtf8(), r.part.toUtf8(), r.url.toUtf8(),
                     QByteArray::number(r.size), r.hash, r.validator});
    }
    const std::optional<QByteArray> text = recordfile::render(Header, rows);
    return text && m_root.writeFileAtomically(FileName.toString(), *text);
}
