#include "modINI.h"

#include "ProfileFile.h"

namespace modINI {

QString GetINI(const QString& file, const QString& section, const QString& key)
{
    return GetINI(profile::readFile(file), section, key);
}

QString GetINI(const profile::ParsedFile& parsed, const QString& section, const QString& key)
{
    // Names in the file's encoding: one it cannot hold is not in the file.
    const std::optional<QByteArray> s = profile::encode(section, parsed.encoding());
    const std::optional<QByteArray> k = profile::encode(key, parsed.encoding());
    const std::optional<QByteArray> value = s && k ? parsed.value(*s, *k) : std::nullopt;
    if (!value)
        return {};
    return profile::valueText(*value, parsed.encoding());
}

bool WriteINI(const QString& file, const QString& section, const QString& key, const QString& value)
{
    return profile::writeString(file, section, key, value).ok;
}

} // namespace modINI
