// The publisher's smaller forms: which it writes for a file, that each one
// yields the file, what the site keeps for later patches, and that nothing a
// published manifest names goes away.

#include "Commands.h"
#include "DecodingSink.h"
#include "FormKeys.h"
#include "MemoryOutput.h"
#include "ScratchFolder.h"
#include "SiteManifest.h"
#include "TestBytes.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QtTest>

using namespace Qt::StringLiterals;
using testsupport::noise;
using testsupport::ScratchFolder;
using verify::PackedForm;

namespace {

QByteArray text(int lines, int variant)
{
    QByteArray bytes;
    for (int i = 0; i < lines; ++i)
        bytes += "level " + QByteArray::number(i) + ": monster " +
                 QByteArray::number((i * 7 + variant) % 23) + " guards the gate\n";
    return bytes;
}

struct Bench
{
    ScratchFolder release;
    ScratchFolder site;

    int build(const QString& version, const QStringList& more = {})
    {
        QString out, err;
        QTextStream o(&out), e(&err);
        const int status = publisher::runPublisher(
            QStringList{u"build"_s, release.path(), site.path(), u"--version"_s, version} + more, o,
            e, QDateTime::currentDateTimeUtc());
        if (status != 0)
            qWarning("%s", qPrintable(err));
        return status;
    }
    ManifestEntry entry(const QString& name) const
    {
        const auto manifest = publisher::readSiteManifest(site.file(u"info.ini"_s));
        for (const ManifestEntry& e : manifest.value()->entries) {
            if (e.FileName == name)
                return e;
        }
        return {};
    }
    // Every form of `name` decodes to the release's file, given its base.
    bool formsYieldTheFile(const QString& name, const QHash<QByteArray, QByteArray>& bases) const
    {
        const QByteArray file = release.read(name);
        for (const PackedForm& form : entry(name).Forms) {
            const QByteArray body = site.read(verify::packedFormPath(form));
            const QByteArray base = bases.value(form.base);
            testsupport::MemoryOutput out;
            delta::DecodingSink sink(out, base, {file.size(), sha(file)});
            if (body.size() != form.size || sha(body) != form.sha256 || !sink.open({}) ||
                !sink.write(body.constData(), body.size()) || sink.finish() || out.bytes != file)
                return false;
        }
        return true;
    }
    static QByteArray sha(const QByteArray& bytes)
    {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    }
};

QStringList kinds(const verify::PackedForms& forms)
{
    QStringList names;
    for (const PackedForm& f : forms)
        names.append(f.kind == PackedForm::Kind::Patch ? u"patch"_s : u"zst"_s);
    return names;
}

} // namespace

class TestPacking : public QObject
{
    Q_OBJECT

private slots:
    void choices_data();
    void choices();
    void patchesFromTheLastReleases();
    void nothingNamedGoesAway();
    void packedNameIsRefused();
};

void TestPacking::choices_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QStringList>("forms"); // of the second release's file

    const QByteArray random = noise(300'000, 1);
    QByteArray edited = random;
    edited.replace(100'000, 500, noise(500, 2));
    QTest::newRow("unchanged random file: nothing") << random << random << QStringList();
    QTest::newRow("unchanged text: its copy")
        << text(5000, 0) << text(5000, 0) << QStringList{u"zst"_s};
    QTest::newRow("small change in random bytes: patch")
        << random << edited << QStringList{u"patch"_s};
    QTest::newRow("small change in text: copy and patch")
        << text(5000, 0) << QByteArray(text(5000, 0) + "one more line\n")
        << QStringList{u"zst"_s, u"patch"_s};
    QTest::newRow("random replaced by random: plain only")
        << random << noise(300'000, 3) << QStringList();
    QTest::newRow("text replaced by other text: copy, no patch")
        << text(5000, 0) << noise(1000, 4).toHex() << QStringList{u"zst"_s};
}

void TestPacking::choices()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, forms);
    Bench b;
    b.release.write(u"game.dat"_s, first);
    b.release.write(u"other.dat"_s, "1");
    QCOMPARE(b.build(u"1.0"_s), 0);
    b.release.write(u"game.dat"_s, second);
    b.release.write(u"other.dat"_s, "2");
    QCOMPARE(b.build(u"1.1"_s), 0);
    const ManifestEntry entry = b.entry(u"game.dat"_s);
    QCOMPARE(kinds(entry.Forms), forms);
    for (const PackedForm& f : entry.Forms) {
        QVERIFY(f.size < second.size() - second.size() / 20);
        if (f.kind == PackedForm::Kind::Patch)
            QCOMPARE(f.base, Bench::sha(first));
    }
    QVERIFY(b.formsYieldTheFile(u"game.dat"_s, {{Bench::sha(first), first}}));
    if (forms.contains(u"zst"_s) && second.startsWith("level"))
        QVERIFY(entry.Forms.first().size * 2 <= second.size()); // text: at least 2x smaller
}

// Three releases: the third has patches from the two before it (--deltas 2);
// with --deltas 1 only from the one before.
void TestPacking::patchesFromTheLastReleases()
{
    for (const int deltas : {2, 1}) {
        Bench b;
        QList<QByteArray> versions;
        QHash<QByteArray, QByteArray> bases;
        for (int v = 0; v < 3; ++v) {
            QByteArray bytes = noise(200'000, 5);
            bytes.replace(v * 1000, 100, QByteArray(100, char('a' + v)));
            versions.append(bytes);
            bases.insert(Bench::sha(bytes), bytes);
            b.release.write(u"game.dat"_s, bytes);
            QCOMPARE(b.build(u"1.%1"_s.arg(v), {u"--deltas"_s, QString::number(deltas)}), 0);
        }
        QList<QByteArray> from;
        for (const PackedForm& f : b.entry(u"game.dat"_s).Forms)
            from.append(f.base);
        const QList<QByteArray> expected =
            deltas == 2 ? QList{Bench::sha(versions[1]), Bench::sha(versions[0])}
                        : QList{Bench::sha(versions[1])};
        QCOMPARE(from, expected);
        QVERIFY(b.formsYieldTheFile(u"game.dat"_s, bases));
    }
}

void TestPacking::nothingNamedGoesAway()
{
    Bench b;
    QSet<QString> named;
    for (int v = 0; v < 4; ++v) {
        b.release.write(u"a.txt"_s, text(3000, v));
        b.release.write(u"b.bin"_s, noise(100'000, quint32(v % 2)));
        QCOMPARE(b.build(u"2.%1"_s.arg(v)), 0);
        for (const QString& name : {u"a.txt"_s, u"b.bin"_s}) {
            for (const PackedForm& f : b.entry(name).Forms)
                named.insert(verify::packedFormPath(f));
        }
        for (const QString& path : std::as_const(named))
            QVERIFY2(b.site.exists(path), qPrintable(path));
    }
    // Kept for later patches: the versions of the last two releases only.
    QCOMPARE(QDir(b.site.file(u"packed/bases"_s)).entryList(QDir::Files).size(), 4);
}

void TestPacking::packedNameIsRefused()
{
    Bench b;
    b.release.write(u"data/Packed"_s, "x");
    QVERIFY(b.build(u"1.0"_s) != 0);
    QVERIFY(!b.site.exists(u"info.ini"_s));
}

QTEST_GUILESS_MAIN(TestPacking)
#include "tst_packing.moc"
