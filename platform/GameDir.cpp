#include "GameDir.h"

#include "GameDirInternal.h"
#include <algorithm>

#include <QDir>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;
using Kind = GameDir::Kind;

namespace gamedir {

namespace {

#ifdef Q_OS_WIN
// Windows opens a device for these names, whatever extension follows.
bool isDeviceName(QStringView name)
{
    QStringView base = name.left(name.indexOf(u'.')); // -1: the whole name
    while (base.endsWith(u' '))
        base.chop(1);
    static constexpr QStringView devices[] = {u"CON", u"PRN",    u"AUX",
                                              u"NUL", u"CONIN$", u"CONOUT$"};
    for (QStringView device : devices) {
        if (base.compare(device, Qt::CaseInsensitive) == 0)
            return true;
    }
    // COM1-COM9 and LPT1-LPT9, with the superscript digits Windows counts too.
    static constexpr QStringView ports[] = {u"COM", u"LPT"};
    static constexpr QStringView digits = u"0123456789\u00b9\u00b2\u00b3";
    for (QStringView port : ports) {
        if (base.size() == 4 && base.startsWith(port, Qt::CaseInsensitive) &&
            digits.contains(base.at(3)))
            return true;
    }
    return false;
}

// What Windows refuses or silently changes: separators, a colon (a stream or a
// drive), wildcard and redirection characters, control characters, a trailing
// dot or space (dropped, so the name would reach another file) and device names.
bool validOnWindows(const QString& name)
{
    for (const QChar c : name) {
        if (c.unicode() < 32 || QStringView(u"<>:\"/\\|?*").contains(c))
            return false;
    }
    return !name.endsWith(u'.') && !name.endsWith(u' ') && !isDeviceName(name);
}
#endif

} // namespace

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

bool validName(const QString& name)
{
    if (name.isEmpty() || name == "."_L1 || name == ".."_L1 || name.contains(u'/') ||
        name.contains(QChar(u'\0')))
        return false;
#ifdef Q_OS_WIN
    return validOnWindows(name);
#else
    return true;
#endif
}

QString systemReason(const QString& path, int osError)
{
    return u"%1: %2"_s.arg(QDir::toNativeSeparators(path), qt_error_string(osError));
}

QString invalidName(const QString& name)
{
    return u"\"%1\" is not a valid name"_s.arg(name);
}

QString explain(Kind kind, Kind wanted, const QString& path, const QString& otherwise)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (kind == wanted)
        return otherwise;
    switch (kind) {
    case Kind::Missing:
        return u"%1 does not exist"_s.arg(shown);
    case Kind::File:
        return u"%1 is a file"_s.arg(shown);
    case Kind::Folder:
        return u"%1 is a folder"_s.arg(shown);
    case Kind::Link:
        return u"%1 is a symbolic link"_s.arg(shown);
    case Kind::Other:
        break;
    }
    return u"%1 is neither a file nor a folder"_s.arg(shown);
}

} // namespace gamedir

using namespace gamedir;

namespace {

[[maybe_unused]] bool sameIgnoringAsciiCase(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a.at(i).unicode()) != lower(b.at(i).unicode()))
            return false;
    }
    return true;
}

// Fixed length and unpredictable: any name the file system accepts can be
// written, and no one can place something under the name in advance.
QString temporaryName()
{
    return u".qv-%1.tmp"_s.arg(qulonglong(QRandomGenerator::global()->generate64()), 16, 16,
                               QChar(u'0'));
}

} // namespace

// Shared by both systems; GameDirPosix.cpp and GameDirWindows.cpp hold what touches the disk.

bool GameDir::isTemporaryName(QStringView name)
{
    if (name.size() != 24 || !name.startsWith(u".qv-") || !name.endsWith(u".tmp"))
        return false;
    const QStringView digits = name.sliced(4, 16);
    return std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

std::optional<GameDir> GameDir::openSub(const QStringList& segments, bool create,
                                        QStringList* created, QString* error) const
{
    if (segments.isEmpty())
        return duplicate(error);
    // Each step opens the next folder below the one before; this one is
    // walked from without a copy of its own.
    const GameDir* here = this;
    std::optional<GameDir> opened;
    QString relative;
    for (const QString& segment : segments) {
        if (!validName(segment)) {
            fail(error, invalidName(segment));
            return std::nullopt;
        }
#ifndef Q_OS_WIN
        // A folder spelled as asked is opened at once (never through a link);
        // the checks below are for names that are missing or something else.
        if (std::optional<GameDir> child = here->openChild(segment, nullptr)) {
            relative += (relative.isEmpty() ? QString() : u"/"_s) + segment;
            opened = std::move(child);
            here = &*opened;
            continue;
        }
#endif
        const QString name = here->spelledOnDisk(segment);
        relative += (relative.isEmpty() ? QString() : u"/"_s) + name;
        if (create && here->kindOf(name) == Kind::Missing) {
            if (here->makeFolder(name, error)) {
                if (created)
                    created->append(relative);
            } else if (here->kindOf(name) == Kind::Missing) {
                return std::nullopt;
            }
        }
        opened = here->openChild(name, error);
        if (!opened)
            return std::nullopt;
        here = &*opened;
    }
    return opened;
}

QString GameDir::spelledOnDisk(const QString& name) const
{
#ifdef Q_OS_WIN
    // The file system itself ignores case, all of Unicode's, and knows the spelling.
    const QString stored = storedName(pathOf(name));
    return stored.isEmpty() ? name : stored;
#else
    if (kindOf(name) != Kind::Missing)
        return name;
    const QStringList names = entries();
    for (const QString& onDisk : names) {
        if (sameIgnoringAsciiCase(onDisk, name))
            return onDisk;
    }
    return name;
#endif
}

std::unique_ptr<QFile> GameDir::createNew(const QString& name, QFileDevice::Permissions perms,
                                          QString* error) const
{
    return create(name, perms, error);
}

bool GameDir::writeFileAtomically(const QString& name, const QByteArray& bytes,
                                  QString* error) const
{
    // QSaveFile works on paths and writes through a link to its target; here
    // a link must be replaced and no path may be resolved again.
    if (!validName(name))
        return fail(error, invalidName(name));
    const QString temp = temporaryName();
    std::unique_ptr<QFile> file = create(temp, permissionsOf(name), error);
    if (!file)
        return false;
    const bool written = file->write(bytes) == bytes.size() && gamedir::syncFile(*file);
    const QString writeError = file->errorString();
    file->close();
    if (!written) {
        removeFile(temp);
        return fail(error, u"%1: %2"_s.arg(QDir::toNativeSeparators(pathOf(name)), writeError));
    }
    if (!rename(temp, name, error)) {
        removeFile(temp);
        return false;
    }
    // The new bytes are in place either way; a folder that cannot be synced is no failure.
    sync();
    return true;
}

QString GameDir::pathOf(const QString& name) const
{
    return m_path + u'/' + name;
}
