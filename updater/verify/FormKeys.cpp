#include "FormKeys.h"

using namespace Qt::StringLiterals;

namespace verify {

namespace {

std::optional<PackedForm> parseToken(QByteArrayView token)
{
    const QList<QByteArray> parts = token.toByteArray().split(':');
    PackedForm form;
    qsizetype at = 1;
    if (parts.size() == 3 && parts[0] == "zst") {
        form.kind = PackedForm::Kind::Compressed;
    } else if (parts.size() == 4 && parts[0] == "patch") {
        form.kind = PackedForm::Kind::Patch;
        const auto base = parseFileHash(parts[1]);
        if (!base.value)
            return std::nullopt;
        form.base = *base.value;
        at = 2;
    } else {
        return std::nullopt;
    }
    const auto size = parseFileSize(parts[at]);
    const auto hash = parseFileHash(parts[at + 1]);
    if (!size.value || !hash.value)
        return std::nullopt;
    form.size = *size.value;
    form.sha256 = *hash.value;
    return form;
}

} // namespace

QByteArray fileFormsKey(int n)
{
    return "FileForms" + QByteArray::number(n);
}

OptionalKey<PackedForms> parseFileForms(const std::optional<QByteArray>& value)
{
    if (!value)
        return OptionalKey<PackedForms>::missing();
    PackedForms forms;
    for (const QByteArray& token : value->split(' ')) {
        const auto form = parseToken(token);
        if (!form)
            return OptionalKey<PackedForms>::bad();
        forms.append(*form);
    }
    return OptionalKey<PackedForms>::of(std::move(forms));
}

QByteArray formatFileForms(const PackedForms& forms)
{
    QByteArrayList tokens;
    for (const PackedForm& f : forms) {
        QByteArray token = f.kind == PackedForm::Kind::Patch ? "patch:" + formatHash(f.base) + ':'
                                                             : QByteArray("zst:");
        tokens.append(token + QByteArray::number(f.size) + ':' + formatHash(f.sha256));
    }
    return tokens.join(' ');
}

QString packedFormPath(const PackedForm& form)
{
    return QString::fromLatin1(PackedFolder) + u'/' + QString::fromLatin1(formatHash(form.sha256)) +
           u".zst"_s;
}

} // namespace verify
