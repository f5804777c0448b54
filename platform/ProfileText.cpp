#include "ProfileText.h"

#include <algorithm>

#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::StringLiterals;

namespace profile {

namespace {

// Qt reaches Windows-1252 through ICU (Debian's Qt is built with it). ICU
// maps the five bytes Windows-1252 leaves undefined to the C1 controls, as
// Windows does, so every byte survives a round trip. A Qt without ICU has no
// such converter; Latin-1 then keeps the bytes intact and only shows
// 0x80-0x9F as controls.
#ifdef Q_OS_WIN
QStringDecoder ansiDecoder()
{
    return QStringDecoder(QStringConverter::System, QStringConverter::Flag::Stateless);
}
QStringEncoder ansiEncoder()
{
    return QStringEncoder(QStringConverter::System, QStringConverter::Flag::Stateless);
}
#else
constexpr const char* ansiName = "windows-1252";

QStringDecoder ansiDecoder()
{
    QStringDecoder decoder(ansiName, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QStringDecoder(QStringConverter::Latin1, QStringConverter::Flag::Stateless);
    return decoder;
}
QStringEncoder ansiEncoder()
{
    QStringEncoder encoder(ansiName, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return QStringEncoder(QStringConverter::Latin1, QStringConverter::Flag::Stateless);
    return encoder;
}
#endif

constexpr QByteArrayView utf8Bom("\xEF\xBB\xBF");

} // namespace

Encoding newFileEncoding()
{
#ifdef Q_OS_WIN
    return Encoding::Ansi;
#else
    return Encoding::Utf8;
#endif
}

Encoding encodingOf(QByteArrayView file)
{
    if (file.isEmpty())
        return newFileEncoding();
    if (file.startsWith(utf8Bom) || file.isValidUtf8())
        return Encoding::Utf8;
    return Encoding::Ansi;
}

QString encodingName(Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return u"UTF-8"_s;
#ifdef Q_OS_WIN
    return u"the system code page"_s;
#else
    return u"Windows-1252"_s;
#endif
}

QString decode(QByteArrayView bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QStringDecoder decoder = ansiDecoder();
    return decoder.decode(bytes);
}

QByteArrayView cutAtCharacterBoundary(QByteArrayView bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    // Step back over continuation bytes so the first byte left out starts a character.
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.first(end);
}

QString valueText(QByteArrayView raw, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(cutAtCharacterBoundary(raw, MaxValueBytes));
    // One byte per character in the 8-bit code page.
    return decode(raw.first(std::min<qsizetype>(raw.size(), MaxValueBytes)), encoding);
}

std::optional<QByteArray> encode(QStringView text, Encoding encoding)
{
    QByteArray bytes;
    if (encoding == Encoding::Utf8) {
        bytes = text.toUtf8();
    } else {
        QStringEncoder encoder = ansiEncoder();
        bytes = encoder.encode(text);
    }
    // Converters substitute what they cannot hold ('?', 0x1A, best-fit
    // look-alikes on Windows); only a faithful round trip proves nothing
    // was lost.
    if (decode(bytes, encoding) != text)
        return std::nullopt;
    return bytes;
}

} // namespace profile
