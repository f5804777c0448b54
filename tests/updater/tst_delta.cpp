// The pieces of smaller updates on bytes alone: the form keys of the
// manifest, the choice of form, and the decoder that turns a compressed copy
// or a patch into the file.

#include "DecodingSink.h"
#include "FormChoice.h"
#include "FormKeys.h"
#include "MemoryOutput.h"
#include "TestBytes.h"
#include "ZstdForms.h"

#include <QCryptographicHash>
#include <QtTest>

#include <limits>

#include <zstd.h>

using namespace Qt::StringLiterals;
using delta::DecodingSink;
using testsupport::MemoryOutput;
using testsupport::noise;
using verify::PackedForm;

namespace {

constexpr qint64 NoLimit = std::numeric_limits<qint64>::max();

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Feeds `body` in pieces of `piece` bytes; the first refusal or the verdict,
// asked once the sink has taken every byte (as a transfer does).
std::optional<QString> decode(DecodingSink& sink, const QByteArray& body, qsizetype piece)
{
    if (!sink.open({}))
        return sink.errorString();
    for (qsizetype at = 0; at < body.size(); at += piece) {
        while (!sink.accepting([] {}))
            QThread::msleep(1); // a writer behind catches up: bounded by its backlog
        if (!sink.write(body.constData() + at, std::min(piece, body.size() - at)))
            return sink.errorString();
    }
    std::optional<bool> written;
    sink.whenWritten([&written](bool ok) { written = ok; });
    if (!QTest::qWaitFor([&written] { return written.has_value(); }, 10'000))
        return u"never written"_s;
    if (!*written)
        return sink.errorString();
    return sink.finish();
}

// A frame that does not tell its size, made with a window of 2^`windowLog`.
QByteArray unsizedFrame(const QByteArray& bytes, int windowLog)
{
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLog);
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(bytes.size()))), '\0');
    ZSTD_outBuffer out{frame.data(), size_t(frame.size()), 0};
    ZSTD_inBuffer in{bytes.constData(), size_t(bytes.size()), 0};
    ZSTD_compressStream2(cctx, &out, &in, ZSTD_e_continue); // the size stays unknown
    ZSTD_inBuffer none{nullptr, 0, 0};
    for (size_t left = 1; left > 0 && !ZSTD_isError(left);)
        left = ZSTD_compressStream2(cctx, &out, &none, ZSTD_e_end);
    ZSTD_freeCCtx(cctx);
    frame.truncate(qsizetype(out.pos));
    return frame;
}

const QByteArray Base = noise(200'000, 7) + QByteArray(100'000, 'z');
QByteArray changed()
{
    QByteArray bytes = Base;
    bytes.replace(5000, 300, noise(300, 9));
    bytes.append(noise(1000, 11));
    return bytes;
}
const QByteArray Target = changed();

} // namespace

class DeltaTest : public QObject
{
    Q_OBJECT

private slots:
    void formKeys_data();
    void formKeys();
    void choice_data();
    void choice();
    void decoding_data();
    void decoding();
    void patchIsSmall();
    void decoderKeepsNoWindow();
};

void DeltaTest::formKeys_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("forms"); // -1: malformed

    const QByteArray h(64, 'a');
    QTest::newRow("copy") << "zst:12:" + h << 1;
    QTest::newRow("copy and two patches")
        << "zst:12:" + h + " patch:" + h + ":5:" + h + " patch:" + h + ":6:" + h << 3;
    QTest::newRow("upper-case hash") << "zst:12:" + h.toUpper() << -1;
    QTest::newRow("negative size") << "zst:-1:" + h << -1;
    QTest::newRow("patch without base") << "patch:5:" + h << -1;
    QTest::newRow("unknown form") << "bsdiff:5:" + h << -1;
    QTest::newRow("two blanks") << "zst:12:" + h + "  zst:12:" + h << -1;
    QTest::newRow("empty") << QByteArray("") << -1;
}

void DeltaTest::formKeys()
{
    QFETCH(QByteArray, value);
    QFETCH(int, forms);
    const auto parsed = verify::parseFileForms(value);
    QCOMPARE(parsed.malformed, forms < 0);
    if (forms < 0)
        return;
    QCOMPARE(parsed.value->size(), forms);
    QCOMPARE(verify::formatFileForms(*parsed.value), value);
}

void DeltaTest::choice_data()
{
    QTest::addColumn<QString>("local"); // "base", "other", "same" or "" (no file)
    QTest::addColumn<bool>("checked");  // FileSize and FileHash given
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("patch applies")
        << u"base"_s << true << QStringList{u"patch"_s, u"compressed copy"_s, u"plain file"_s};
    QTest::newRow("another base") << u"other"_s << true
                                  << QStringList{u"compressed copy"_s, u"plain file"_s};
    QTest::newRow("no file") << QString() << true
                             << QStringList{u"compressed copy"_s, u"plain file"_s};
    QTest::newRow("already the new file")
        << u"same"_s << true << QStringList{u"compressed copy"_s, u"plain file"_s};
    QTest::newRow("unchecked entry") << u"base"_s << false << QStringList{u"plain file"_s};
}

void DeltaTest::choice()
{
    QFETCH(QString, local);
    QFETCH(bool, checked);
    QFETCH(QStringList, steps);
    ManifestEntry entry{u"a.dat"_s, u"2"_s, QString()};
    if (checked) {
        entry.FileSize = Target.size();
        entry.FileHash = sha(Target);
    }
    const QByteArray h1 = sha("one"), h2 = sha("two");
    // A bigger patch from the same base, and a "form" larger than the file: never chosen.
    entry.Forms = {{PackedForm::Kind::Patch, sha(Base), 900, h1},
                   {PackedForm::Kind::Patch, sha(Base), 500, h2},
                   {PackedForm::Kind::Compressed, {}, Target.size() + 1, h1},
                   {PackedForm::Kind::Compressed, {}, 4000, h2}};
    std::optional<QByteArray> localHash;
    if (local == u"base"_s)
        localHash = sha(Base);
    else if (local == u"other"_s)
        localHash = sha("other");
    else if (local == u"same"_s)
        localHash = sha(Target);
    const QList<delta::FormStep> chosen = delta::chooseForms(entry, localHash);
    QStringList names;
    for (const delta::FormStep& step : chosen)
        names.append(delta::describe(step));
    QCOMPARE(names, steps);
    if (chosen.first() && chosen.first()->kind == PackedForm::Kind::Patch)
        QCOMPARE(chosen.first()->size, 500);
    if (checked && steps.contains(u"compressed copy"_s))
        QCOMPARE(chosen.at(steps.indexOf(u"compressed copy"_s))->size, 4000);
}

void DeltaTest::decoding_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("patch"); // Base is the reference
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QString>("reason"); // empty: the file decodes

    const QByteArray copy = *publisher::compressBelow(Target, NoLimit);
    const QByteArray patch = *publisher::patchBelow(Base, Target, NoLimit);
    const qint64 size = Target.size();
    const QByteArray hash = sha(Target);
    QByteArray corrupt = patch;
    for (qsizetype i = corrupt.size() / 2; i < corrupt.size(); i += 3)
        corrupt[i] = char(~corrupt[i]);

    QTest::newRow("compressed copy") << copy << false << size << hash << QString();
    QTest::newRow("patch") << patch << true << size << hash << QString();
    QTest::newRow("patch without its base") << patch << false << size << hash << u"decode"_s;
    QTest::newRow("corrupt patch") << corrupt << true << size << hash << u"decode"_s;
    QTest::newRow("cut short") << copy.left(copy.size() / 2) << false << size << hash
                               << u"ends before its frame"_s;
    QTest::newRow("bytes after the frame")
        << copy + "x" << false << size << hash << u"after its end"_s;
    QTest::newRow("two frames") << copy + copy << false << size << hash << u"after its end"_s;
    QTest::newRow("more than FileSize") << copy << false << size - 10 << hash << u"more than"_s;
    QTest::newRow("less than FileSize") << copy << false << size + 10 << hash << u"not"_s;
    QTest::newRow("wrong result") << copy << false << size << sha("x") << u"SHA-256"_s;
    QTest::newRow("window past the sizes")
        << unsizedFrame(Target, 24) << false << size << hash << u"larger window"_s;
    QTest::newRow("not zstd at all")
        << QByteArray("plain text, not a frame") << false << size << hash << u"decode"_s;
}

void DeltaTest::decoding()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, patch);
    QFETCH(qint64, size);
    QFETCH(QByteArray, hash);
    QFETCH(QString, reason);
    BodyWriter writer;
    for (const qsizetype piece :
         {qsizetype(1) << 30, qsizetype(1000), qsizetype(1), qsizetype(-1)}) {
        if (piece == 1 && body.size() > 20'000)
            continue; // byte by byte is for the small bodies
        MemoryOutput out;
        if (piece < 0) // decoded behind, on the writer's thread
            out.writer = &writer;
        DecodingSink sink(out, patch ? QByteArrayView(Base) : QByteArrayView(), {size, hash});
        const std::optional<QString> verdict = decode(sink, body, piece < 0 ? 700 : piece);
        if (piece < 0) {
            QCOMPARE(out.decodedOnCaller.load(), 0);
            QVERIFY(out.decodedBehind > 0);
        }
        QVERIFY(out.opened);
        QVERIFY(out.bytes.size() <= size);
        if (reason.isEmpty()) {
            QVERIFY2(!verdict, qPrintable(verdict.value_or(QString())));
            QCOMPARE(out.bytes, Target);
        } else {
            QVERIFY(verdict);
            QVERIFY2(verdict->contains(reason), qPrintable(*verdict));
        }
    }
}

// A few changed bytes cost a patch of about their size, not a compressed file.
void DeltaTest::patchIsSmall()
{
    const auto patch = publisher::patchBelow(Base, Target, NoLimit);
    QVERIFY(patch);
    QVERIFY2(patch->size() < 2000, qPrintable(QString::number(patch->size())));
    QVERIFY(!publisher::patchBelow(Base, Target, patch->size()));
    QVERIFY(!publisher::compressBelow(noise(50'000, 3), 50'000));
}

// The file itself is the decoder's window: its own memory stays far below
// the 8 MiB a window buffer of its own would take.
void DeltaTest::decoderKeepsNoWindow()
{
    const QByteArray file = noise(64 * 1024, 5).repeated(128);
    const QByteArray copy = *publisher::compressBelow(file, NoLimit);
    MemoryOutput out;
    DecodingSink sink(out, {}, {file.size(), sha(file)});
    const std::optional<QString> verdict = decode(sink, copy, 1 << 16);
    QVERIFY2(!verdict, qPrintable(verdict.value_or(QString())));
    QCOMPARE(out.bytes, file);
    QVERIFY2(sink.decoderBytes() < 1024 * 1024, qPrintable(QString::number(sink.decoderBytes())));
}

QTEST_GUILESS_MAIN(DeltaTest)
#include "tst_delta.moc"
