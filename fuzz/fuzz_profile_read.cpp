// Parses arbitrary bytes as a profile file and checks every lookup against
// the plain reference reading.

#include "ProfileSyntax.h"
#include "ReferenceReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(const profile::syntax::Index& index, std::string_view file, const std::string& section,
           const std::string& key)
{
    const std::optional<QByteArray> got =
        index.find(QByteArrayView(section.data(), qsizetype(section.size())),
                   QByteArrayView(key.data(), qsizetype(key.size())));
    const std::optional<std::string> want = reference::read(file, section, key);
    if (got.has_value() != want.has_value() || (got && got->toStdString() != *want))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const auto index =
        profile::syntax::Index::parse(QByteArray(file.data(), qsizetype(file.size())));

    const reference::Names names = reference::names(file, 12);
    for (const std::string& section : names.sections) {
        // The name as spelled, and in other letter case with blanks around.
        std::string shouted = " " + section + "\t";
        for (char& c : shouted) {
            if (c >= 'a' && c <= 'z')
                c = char(c - 32);
        }
        for (const std::string& key : names.keys) {
            check(index, file, section, key);
            check(index, file, shouted, reference::lower(key));
        }
        check(index, file, section, "k");
    }
    check(index, file, "S", "k");
    return 0;
}
