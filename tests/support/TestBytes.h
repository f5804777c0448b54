#pragma once

#include <QByteArray>
#include <QRandomGenerator>

namespace testsupport {

// Bytes that do not compress, the same for the same seed.
inline QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

} // namespace testsupport
