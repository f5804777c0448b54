// Writes one value into arbitrary file bytes, then checks that it reads back,
// that every other value reads as before, that a repeated write changes
// nothing, and that refusals are exactly the names and values that would
// corrupt the file. Some inputs also go through the on-disk engine.

#include "ProfileFile.h"
#include "ProfileSyntax.h"
#include "ReferenceReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

QByteArrayView bytes(const std::string& s)
{
    return QByteArrayView(s.data(), qsizetype(s.size()));
}

bool refusedName(std::string_view name)
{
    const std::string_view t = reference::trim(name);
    return t.empty() || t.find_first_of("[]=") != std::string_view::npos || t.front() == ';' ||
           name.find_first_of("\r\n") != std::string_view::npos;
}

std::string expectedReadBack(std::string_view value)
{
    std::string_view v = reference::trim(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

void require(bool ok)
{
    if (!ok)
        std::abort();
}

const QString& scratchFile()
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool onDisk = input.ConsumeBool();
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(64);
    const std::string before = input.ConsumeRemainingBytesAsString();

    const QString refusal = profile::syntax::checkEntry(bytes(section), bytes(key), bytes(value));
    const bool refused = refusedName(section) || refusedName(key) ||
                         value.find_first_of("\r\n") != std::string::npos;
    require(refusal.isEmpty() != refused);

    if (onDisk) {
        const QString& path = scratchFile();
        {
            QFile f(path);
            require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            require(f.write(before.data(), qsizetype(before.size())) == qsizetype(before.size()));
        }
        // Warm the cache so the write has to refresh it.
        (void)profile::readValue(path, "S", "k");
        const profile::WriteResult result =
            profile::writeValue(path, bytes(section), bytes(key), bytes(value));
        require(result.ok == !refused);
        QFile f(path);
        require(f.open(QIODevice::ReadOnly));
        const QByteArray onDiskAfter = f.readAll();
        if (refused) {
            require(onDiskAfter == bytes(before));
            return 0;
        }
        require(onDiskAfter == profile::syntax::withValue(bytes(before), bytes(section), bytes(key),
                                                          bytes(value)));
        const std::optional<QByteArray> got = profile::readValue(path, bytes(section), bytes(key));
        require(got && got->toStdString() == expectedReadBack(value));
        return 0;
    }
    if (refused)
        return 0;

    const QByteArray after =
        profile::syntax::withValue(bytes(before), bytes(section), bytes(key), bytes(value));
    const std::string afterText = after.toStdString();

    const std::optional<std::string> readBack = reference::read(afterText, section, key);
    require(readBack && *readBack == expectedReadBack(value));
    const std::optional<QByteArray> indexed =
        profile::syntax::Index::parse(after).find(bytes(section), bytes(key));
    require(indexed && indexed->toStdString() == *readBack);

    // Every other value is untouched.
    const std::string foldedSection = reference::lower(reference::trim(section));
    const std::string foldedKey = reference::lower(reference::trim(key));
    const reference::Names names = reference::names(before, 8);
    for (const std::string& s : names.sections) {
        for (const std::string& k : names.keys) {
            if (reference::lower(s) == foldedSection && reference::lower(k) == foldedKey)
                continue;
            require(reference::read(before, s, k) == reference::read(afterText, s, k));
        }
    }

    // The BOM stays, and writing the same again is a no-op.
    require((before.rfind("\xEF\xBB\xBF", 0) == 0) == (afterText.rfind("\xEF\xBB\xBF", 0) == 0));
    require(profile::syntax::withValue(after, bytes(section), bytes(key), bytes(value)) == after);
    return 0;
}
