#include "modINI.h"

#include "ProfileFile.h"

#include <algorithm>

namespace modINI {

QByteArray cutAtCharacterBoundary(const QByteArray& bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    // Step back over continuation bytes so the first byte left out starts a character.
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

QString valueText(const QByteArray& raw, profile::Encoding encoding)
{
    if (encoding == profile::Encoding::Utf8)
        return QString::fromUtf8(cutAtCharacterBoundary(raw, MaxValueBytes));
    // One byte per character in the 8-bit code page.
    return profile::decode(
        QByteArrayView(raw).first(std::min<qsizetype>(raw.size(), MaxValueBytes)), encoding);
}

QString GetINI(const QString& file, const QString& section, const QString& key)
{
    const profile::ParsedFile parsed = profile::readFile(file);
    // Names in the file's encoding: one it cannot hold is not in the file.
    const std::optional<QByteArray> s = profile::encode(section, parsed.encoding());
    const std::optional<QByteArray> k = profile::encode(key, parsed.encoding());
    const std::optional<QByteArray> value = s && k ? parsed.value(*s, *k) : std::nullopt;
    if (!value)
        return {};
    return valueText(*value, parsed.encoding());
}

bool WriteINI(const QString& file, const QString& section, const QString& key, const QString& value)
{
    return profile::writeString(file, section, key, value).ok;
}

} // namespace modINI
