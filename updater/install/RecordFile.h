#pragma once

// The small tab-separated files the updater keeps beside the game (the install
// journal, the resume records): a header line naming the format, then one
// record per line, fields separated by tabs. This reads and writes the
// layout; what a record may say is for its owner to judge.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <optional>

namespace recordfile {

struct Row
{
    int line = 0; // in the file, from 1 (the header)
    QList<QByteArray> fields;
};

struct Parsed
{
    bool headerOk = false; // false: no row can be trusted, `rows` is empty
    QList<Row> rows;       // with exactly the expected number of fields
    QStringList refused;   // "line N: why" for every other line but empty ones
};

// The rows of `bytes` under `header`, each with `fieldCount` fields.
Parsed parse(const QByteArray& bytes, QByteArrayView header, int fieldCount);

// The file's bytes; nothing when a field holds a tab or a line break (it
// would read back as another record).
std::optional<QByteArray> render(QByteArrayView header, const QList<QList<QByteArray>>& rows);

} // namespace recordfile
