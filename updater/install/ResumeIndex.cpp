#include "ResumeIndex.h"

#include "RecordFile.h"
#include "StagedFiles.h"
#include "UpdateRules.h"

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView Header = "quorvane-resume 2";
constexpr qint64 MaxIndexBytes = 16 * 1024 * 1024;
constexpr qsizetype MaxValidatorBytes = 1024;
constexpr int FieldCount = 9;

bool sameFile(const ResumeRecord& a, const ResumeRecord& b)
{
    return a.url == b.url && a.version == b.version && a.size == b.size && a.hash == b.hash;
}

bool fitsOneField(const QString& text)
{
    return !text.contains(u'\t') && !text.contains(u'\n') && !text.contains(u'\r');
}

std::optional<ResumeRecord> parseRecord(const QList<QByteArray>& f)
{
    bool sizeOk = false, partOk = false;
    ResumeRecord r{QString::fromUtf8(f[0]),
                   QString::fromUtf8(f[1]),
                   QString::fromUtf8(f[2]),
                   QString::fromUtf8(f[3]),
                   QString::fromUtf8(f[4]),
                   f[5].toLongLong(&sizeOk),
                   f[6],
                   f[7],
                   f[8].toLongLong(&partOk)};
    if (!sizeOk || !partOk)
        return std::nullopt;
    return r;
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
            m_voided.append(error);
        return;
    }
    const recordfile::Parsed parsed = recordfile::parse(*bytes, Header, FieldCount);
    m_voided = parsed.refused;
    for (const recordfile::Row& row : parsed.rows) {
        const std::optional<ResumeRecord> r = parseRecord(row.fields);
        const QString why = r ? problemOf(*r) : u"a size is not a number"_s;
        if (why.isEmpty())
            m_records.insert(keyOf(r->target), *r);
        else
            m_voided.append(u"line %1: %2"_s.arg(row.line).arg(why));
    }
}

bool ResumeIndex::isUsableValidator(const QByteArray& validator)
{
    if (validator.isEmpty() || validator.size() > MaxValidatorBytes)
        return false;
    return std::all_of(validator.cbegin(), validator.cend(),
                       [](char c) { return c >= 0x20 && c <= 0x7e; });
}

QString ResumeIndex::problemOf(const ResumeRecord& r)
{
    if (r.target.isEmpty() || updaterules::isUnsafeEntry(QString(), r.target))
        return u"the target is not a safe name in the game folder"_s;
    if (!StagedFiles::isPartName(r.part))
        return u"the part is not one of the updater's part files"_s;
    const qsizetype slash = r.target.lastIndexOf(u'/');
    const QString targetFolder = slash < 0 ? QString() : r.target.left(slash);
    if (keyOf(r.folderPath) != keyOf(targetFolder))
        return u"the part is not beside its target"_s;
    if (!isUsableValidator(r.validator))
        return u"no usable validator from the server"_s;
    if (!fitsOneField(r.url) || !fitsOneField(r.version) || !fitsOneField(r.target))
        return u"a field holds a line or field separator"_s;
    const bool hexHash =
        r.hash.isEmpty() ||
        (r.hash.size() == 64 && QByteArray::fromHex(r.hash).toHex() == r.hash.toLower());
    if (r.size < -1 || r.partSize < -1 || (r.size >= 0 && r.partSize > r.size) || !hexHash)
        return u"sizes or hash out of range"_s;
    return {};
}

std::optional<ResumeRecord> ResumeIndex::take(const ResumeRecord& key)
{
    const auto it = m_records.constFind(keyOf(key.target));
    if (it == m_records.cend() || !sameFile(*it, key))
        return std::nullopt;
    ResumeRecord record = *it;
    m_records.erase(it);
    return record;
}

void ResumeIndex::put(const ResumeRecord& record)
{
    if (problemOf(record).isEmpty()) // never writes what it would not read back
        m_records.insert(keyOf(record.target), record);
    else
        m_records.remove(keyOf(record.target));
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
    for (const ResumeRecord& r : m_records)
        rows.append({r.target.toUtf8(), r.folderPath.toUtf8(), r.part.toUtf8(), r.url.toUtf8(),
                     r.version.toUtf8(), QByteArray::number(r.size), r.hash, r.validator,
                     QByteArray::number(r.partSize)});
    const std::optional<QByteArray> text = recordfile::render(Header, rows);
    return text && m_root.writeFileAtomically(FileName.toString(), *text);
}
