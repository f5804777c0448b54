#include "modINI.h"

#include "ProfileFile.h"

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

QString valueText(const QByteArray& raw)
{
    return QString::fromUtf8(cutAtCharacterBoundary(raw, MaxValueBytes));
}

QString GetINI(const QString& file, const QString& section, const QString& key)
{
    const std::optional<QByteArray> value =
        profile::readValue(file, section.toUtf8(), key.toUtf8());
    if (!value)
        return {};
    return valueText(*value);
}

bool WriteINI(const QString& section, const QString& key, const QString& value, const QString& file)
{
    return profile::writeString(file, section, key, value).ok;
}

} // namespace modINI
