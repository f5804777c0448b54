#include "SerialMemory.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace publisher {

QString serialMemoryPath(const QString& secretKeyFile)
{
    return secretKeyFile + u".serial"_s;
}

verify::Outcome<std::optional<qint64>> readSignedSerial(const QString& secretKeyFile)
{
    using Result = verify::Outcome<std::optional<qint64>>;
    QFile file(serialMemoryPath(secretKeyFile));
    if (!file.exists())
        return Result::success(std::nullopt);
    if (!file.open(QIODevice::ReadOnly))
        return Result::failure(file.fileName() + u": "_s + file.errorString());
    const QByteArray text = file.read(64).trimmed();
    bool ok = false;
    const qint64 serial = text.toLongLong(&ok);
    if (!ok || serial < 0)
        return Result::failure(
            file.fileName() + u": not a Serial; it keeps the highest Serial signed with the key"_s);
    return Result::success(serial);
}

bool rememberSignedSerial(const QString& secretKeyFile, qint64 serial, QString* error)
{
    QSaveFile file(serialMemoryPath(secretKeyFile));
    const QByteArray text = QByteArray::number(serial) + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = file.fileName() + u": "_s + file.errorString();
        return false;
    }
    return true;
}

std::optional<qint64> nextSerial(std::optional<qint64> site, std::optional<qint64> signedBefore)
{
    const qint64 highest = std::max(site.value_or(0), signedBefore.value_or(0));
    if (highest == std::numeric_limits<qint64>::max())
        return std::nullopt;
    return highest + 1;
}

} // namespace publisher
