#include "ResumeIndex.h"

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

std::optional<ResumeRecord> parseRecord(const QByteArray& line)
{
    const QList<QByteArray> f = line.split('\t');
    if (f.size() != FieldCount)
        return std::nullopt;
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
    const auto bytes = root.readFile(FileName.toString(), MaxIndexBytes);
    if (!bytes)
        return;
    const QList<QByteArray> lines = bytes->split('\n');
    if (lines.isEmpty() || lines.front() != Header)
        return;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const std::optional<ResumeRecord> r = parseRecord(lines.at(i));
        const QString why = r ? problemOf(*r) : u"not a record"_s;
        if (why.isEmpty())
            m_records.insert(keyOf(r->target), *r);
        else
            m_voided.append(u"line %1: %2"_s.arg(i + 1).arg(why));
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
    QByteArray text = Header.toByteArray() + '\n';
    for (const ResumeRecord& r : m_records)
        text += r.target.toUtf8() + '\t' + r.folderPath.toUtf8() + '\t' + r.part.toUtf8() + '\t' +
                r.url.toUtf8() + '\t' + r.version.toUtf8() + '\t' + QByteArray::number(r.size) +
                '\t' + r.hash + '\t' + r.validator + '\t' + QByteArray::number(r.partSize) + '\n';
    return m_root.writeFileAtomically(FileName.toString(), text);
}
