#include "modDAta.h"

using namespace Qt::StringLiterals;

namespace modDAta {

QString settingsPath(const QString& gameFolder)
{
    return gameFolder + u"/config.zcn"_s;
}

QString GetINI(const QString& path, const QString& section, const QString& key)
{
    return profile::readString(path, section, key).value_or(QString());
}

profile::WriteResult WriteINI(const QString& path, const QString& section, const QString& key,
                              const QString& value)
{
    return profile::writeString(path, section, key, value);
}

profile::WriteResult WriteAll(const QString& path, const QString& section,
                              const QList<std::pair<QString, QString>>& values,
                              const profile::ReplaceStep& replace)
{
    QList<profile::Entry> entries;
    entries.reserve(values.size());
    for (const auto& [key, value] : values)
        entries.append({section, key, value});
    return profile::writeStrings(path, entries, replace);
}

} // namespace modDAta
