#pragma once

// Paths for Win32 calls. A "\\?\" path reaches past the old 260-character
// limit (MAX_PATH) and is used as given: no "." or ".." is resolved and no
// trailing dot or space dropped, so it must be absolute and clean.

#include <QtGlobal>

#ifdef Q_OS_WIN

#include <QDir>
#include <QString>

#include <string>

namespace winpath {

inline std::wstring longPath(const QString& path)
{
    using namespace Qt::StringLiterals;
    QString native = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (native.startsWith(u"\\\\?\\"_s) || native.startsWith(u"\\\\.\\"_s))
        return native.toStdWString();
    if (native.startsWith(u"\\\\"_s))
        native = u"\\\\?\\UNC\\"_s + native.mid(2);
    else if (native.size() >= 2 && native.at(1) == u':')
        native = u"\\\\?\\"_s + native;
    return native.toStdWString();
}

} // namespace winpath

#endif
