#include "modDAta.h"

using namespace Qt::StringLiterals;

namespace modDAta {

QString settingsPath(const QString& gameFolder)
{
    return gameFolder + u"/config.zcn"_s;
}

QString GetINI(const QString& section, const QString& key, const QString& path)
{
    return profile::readString(path, section, key).value_or(QString());
}

profile::WriteResult WriteINI(const QString& section, const QString& key, const QString& value,
                              const QString& path)
{
    return profile::writeString(path, section, key, value);
}

} // namespace modDAta
