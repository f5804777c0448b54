#include "FormChoice.h"

using namespace Qt::StringLiterals;

namespace delta {

namespace {

bool checkable(const ManifestEntry& entry)
{
    return entry.FileSize && entry.FileHash && entry.BadCheck.isEmpty();
}

// The smallest form of `kind` smaller than the file itself that `accept` takes.
template <typename Accept>
FormStep smallest(const ManifestEntry& entry, verify::PackedForm::Kind kind, Accept accept)
{
    FormStep best;
    for (const verify::PackedForm& form : entry.Forms) {
        if (form.kind != kind || form.size >= *entry.FileSize || !accept(form))
            continue;
        if (!best || form.size < best->size)
            best = form;
    }
    return best;
}

} // namespace

QList<FormStep> chooseForms(const ManifestEntry& entry, const std::optional<QByteArray>& localHash)
{
    QList<FormStep> steps;
    if (checkable(entry)) {
        using Kind = verify::PackedForm::Kind;
        if (localHash && *localHash != *entry.FileHash) {
            if (auto patch = smallest(entry, Kind::Patch, [&](const verify::PackedForm& f) {
                    return f.base == *localHash;
                }))
                steps.append(std::move(patch));
        }
        if (auto copy = smallest(entry, Kind::Compressed, [](const auto&) { return true; }))
            steps.append(std::move(copy));
    }
    steps.append(std::nullopt);
    return steps;
}

bool offersPatch(const ManifestEntry& entry)
{
    if (!checkable(entry))
        return false;
    for (const verify::PackedForm& form : entry.Forms) {
        if (form.kind == verify::PackedForm::Kind::Patch)
            return true;
    }
    return false;
}

QString describe(const FormStep& step)
{
    if (!step)
        return u"plain file"_s;
    return step->kind == verify::PackedForm::Kind::Patch ? u"patch"_s : u"compressed copy"_s;
}

} // namespace delta
