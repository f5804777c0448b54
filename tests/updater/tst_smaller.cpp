// Smaller updates end to end against the test server: the cheapest usable form
// of a file is fetched, every failure falls back to the next form within the
// run with its reason in the log, and damaged installs are mended.

#include "FormKeys.h"
#include "GameDir.h"
#include "ReferenceCopy.h"
#include "UpdaterTestKit.h"
#include "ZstdForms.h"

#include "UpdateProgress.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <limits>

using namespace Qt::StringLiterals;
using verify::PackedForm;

namespace {

constexpr qint64 NoLimit = std::numeric_limits<qint64>::max();
const QString Name = u"level.dat"_s;

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

PackedForm formOf(PackedForm::Kind kind, const QByteArray& bytes, const QByteArray& base = {})
{
    return {kind, base.isEmpty() ? QByteArray() : sha(base), bytes.size(), sha(bytes)};
}

QByteArray manifest(const QString& version, const QByteArray& content,
                    const verify::PackedForms& forms)
{
    QByteArray text =
        "[VERSION]\r\nVersion=" + version.toUtf8() +
        "\r\nGameFileName=Game.zgx\r\nMax=1\r\n[FILES]\r\nFileName1=" + Name.toUtf8() +
        "\r\nFileVersion1=" + version.toUtf8() +
        "\r\nFilePath1=\r\nFileSize1=" + QByteArray::number(content.size()) +
        "\r\nFileHash1=" + verify::formatHash(sha(content)) + "\r\n";
    if (!forms.isEmpty())
        text += "FileForms1=" + verify::formatFileForms(forms) + "\r\n";
    return text;
}

// The old and the new version of one file: the new one differs in three places.
const QByteArray Old = kit::pattern(300'000, 1);
QByteArray newContent()
{
    QByteArray bytes = Old;
    for (qsizetype at : {1000, 150'000, 290'000})
        bytes.replace(at, 64, QByteArray(64, 'N'));
    return bytes;
}
const QByteArray New = newContent();

QByteArray flipped(QByteArray bytes)
{
    for (qsizetype i = bytes.size() / 3; i < bytes.size() * 2 / 3; i += 7)
        bytes[i] = char(bytes[i] ^ 0x5A);
    return bytes;
}

struct Offer
{
    QByteArray body;
    PackedForm form;
    bool served = true;
};

QString logOf(const kit::Site& site)
{
    return QString::fromUtf8(site.game.read(u"Quorvane.log"_s));
}

} // namespace

class SmallerTest : public QObject
{
    Q_OBJECT

private slots:
    void fallbackTable_data();
    void fallbackTable();
    void installsAreMended_data();
    void installsAreMended();
    void verifyMendsSameSizeDamage();
    void linksStayOutOfBounds();
    void referenceOutlivesTruncation();
};

void SmallerTest::fallbackTable_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("fetched"); // "patch", "copy" or "plain"
    QTest::addColumn<QString>("reason");  // in the log; empty: no fallback

    QTest::newRow("patch applies") << QString() << u"patch"_s << QString();
    QTest::newRow("patch 404") << u"patch-404"_s << u"copy"_s << u"the patch failed"_s;
    QTest::newRow("patch corrupt")
        << u"patch-corrupt"_s << u"copy"_s << u"the form does not decode"_s;
    QTest::newRow("player's file modified") << u"local-modified"_s << u"copy"_s << QString();
    QTest::newRow("patch with wrong result")
        << u"patch-wrong"_s << u"copy"_s << u"does not have the expected SHA-256"_s;
    QTest::newRow("copy expands beyond FileSize")
        << u"patch-404 copy-expands"_s << u"plain"_s << u"decodes to more than 300000 bytes"_s;
    QTest::newRow("patch cut, copy 404")
        << u"patch-cut copy-404"_s << u"plain"_s << u"the compressed copy failed"_s;
}

void SmallerTest::fallbackTable()
{
    QFETCH(QString, damage);
    QFETCH(QString, fetched);
    QFETCH(QString, reason);

    const auto has = [&](const char* what) {
        return damage.split(u' ').contains(QLatin1String(what));
    };
    QByteArray patchBody = *publisher::patchBelow(Old, New, NoLimit);
    if (has("patch-corrupt"))
        patchBody = flipped(patchBody);
    if (has("patch-wrong"))
        patchBody = *publisher::patchBelow(Old, flipped(New), NoLimit);
    QByteArray copyBody = *publisher::compressBelow(New, NoLimit);
    if (has("copy-expands"))
        copyBody = *publisher::compressBelow(QByteArray(New + New), NoLimit);
    Offer patch{patchBody, formOf(PackedForm::Kind::Patch, patchBody, Old), !has("patch-404")};
    Offer copy{copyBody, formOf(PackedForm::Kind::Compressed, copyBody), !has("copy-404")};

    kit::Site site;
    site.configure();
    site.game.write(u"info.ini"_s, manifest(u"1.0"_s, Old, {}));
    site.game.write(Name, has("local-modified") ? flipped(Old) : Old);
    site.serve(u"info.ini"_s, manifest(u"1.1"_s, New, {patch.form, copy.form}));
    site.serve(Name, New);
    for (const Offer* offer : {&patch, &copy}) {
        kit::CannedResponse response = kit::CannedResponse::ok(offer->body);
        if (offer == &patch && has("patch-cut"))
            response.stallAfter = offer->body.size() / 2;
        if (offer->served)
            site.serve(verify::packedFormPath(offer->form), response);
    }
    site.run();

    QCOMPARE(site.game.read(Name), New);
    QCOMPARE(site.view.current(StatusField::Status), u"Updated To Version 1.1!"_s);
    const int patchRequests = site.requests(verify::packedFormPath(patch.form));
    const int copyRequests = site.requests(verify::packedFormPath(copy.form));
    QCOMPARE(patchRequests, has("local-modified") ? 0 : 1); // a 404 is asked for once too
    QCOMPARE(copyRequests, fetched == u"patch"_s ? 0 : 1);
    QCOMPARE(site.requests(Name), fetched == u"plain"_s ? 1 : 0);
    const QString log = logOf(site);
    if (reason.isEmpty())
        QVERIFY2(!log.contains(u"instead"_s), qPrintable(log));
    else
        QVERIFY2(log.contains(reason), qPrintable(log));

    // The whole update's bar counts the bytes each form brought: full as the last one ends.
    UpdateProgress bar([] { return std::chrono::milliseconds(0); });
    for (const QString& event : std::as_const(site.view.progress)) {
        const QStringList p = event.split(QRegularExpression(u"[=@:>/]"_s));
        const auto n = [&](int i) { return p.value(i).toLongLong(); };
        if (p[0] == u"plan")
            bar.filesPlanned(int(n(1)), n(2));
        else if (p[0] == u"start")
            bar.fileStarted(int(n(1)), n(2));
        else if (p[0] == u"at")
            bar.fileProgressed(int(n(1)), n(2));
        else if (p[0] == u"replan")
            bar.fileReplanned(int(n(1)), n(2), n(3));
    }
    QVERIFY(bar.totalBytes());
    QCOMPARE(bar.received(), *bar.totalBytes());
}

void SmallerTest::installsAreMended_data()
{
    QTest::addColumn<QByteArray>("onDisk"); // empty: the file is missing

    QTest::newRow("missing") << QByteArray();
    QTest::newRow("shorter") << New.left(1000);
    QTest::newRow("longer") << QByteArray(New + "tail");
}

void SmallerTest::installsAreMended()
{
    QFETCH(QByteArray, onDisk);
    kit::Site site;
    site.configure();
    const QByteArray current = manifest(u"1.1"_s, New, {});
    site.game.write(u"info.ini"_s, current);
    if (!onDisk.isEmpty())
        site.game.write(Name, onDisk);
    site.serve(u"info.ini"_s, current);
    site.serve(Name, New);
    site.run();

    QCOMPARE(site.game.read(Name), New);
    QVERIFY(site.view.values(StatusField::Status).contains("Repairing "_L1 + Name + "..."_L1));
    QCOMPARE(site.requests(Name), 1);

    // Mended: the next run finds nothing to do.
    site.restart(site.game.path());
    site.run();
    QCOMPARE(site.requests(Name), 1);
    QCOMPARE(site.view.current(StatusField::Status), u"You Have The Latest Version!"_s);
}

void SmallerTest::verifyMendsSameSizeDamage()
{
    kit::Site site;
    site.configure();
    const QByteArray current = manifest(u"1.1"_s, New, {});
    site.game.write(u"info.ini"_s, current);
    site.game.write(Name, flipped(New));
    site.serve(u"info.ini"_s, current);
    site.serve(Name, New);

    site.run(); // sizes agree: a plain run cannot tell
    QCOMPARE(site.requests(Name), 0);
    QCOMPARE(site.game.read(Name), flipped(New));

    site.restart(site.game.path());
    site.session->setVerify(true);
    site.run();
    QCOMPARE(site.requests(Name), 1);
    QCOMPARE(site.game.read(Name), New);
    // The hashing shows its progress before the files are fetched.
    const QStringList calls = site.view.log();
    const qsizetype verifying = calls.indexOf(u"L2=Verifying Files..."_s);
    QVERIFY(verifying >= 0);
    QVERIFY(calls.indexOf(u"Label4=100%"_s, verifying) <
            calls.indexOf(u"L3=Checking Files..."_s, verifying));
    QVERIFY(calls.indexOf(u"Label4=100%"_s, verifying) > verifying);
    QVERIFY(logOf(site).contains(u"of other content"_s));
}

void SmallerTest::linksStayOutOfBounds()
{
    kit::Site site;
    testsupport::ScratchFolder outside;
    outside.write(Name, "outside");
    site.configure();
    const QByteArray current = manifest(u"1.1"_s, New, {});
    site.game.write(u"info.ini"_s, current);
    QVERIFY(QFile::link(outside.file(Name), site.game.file(Name)));
    site.serve(u"info.ini"_s, current);
    site.serve(Name, New);
    site.session->setVerify(true);
    site.run();

    QCOMPARE(site.requests(Name), 0);
    QCOMPARE(outside.read(Name), QByteArray("outside"));
    QVERIFY(QFileInfo(site.game.file(Name)).isSymLink());
}

// Another program cutting the player's file short while a patch applies to
// it must not touch the bytes the patch reads (nor end the program).
void SmallerTest::referenceOutlivesTruncation()
{
    testsupport::ScratchFolder folder;
    QVERIFY(folder.write(Name, Old));
    const std::optional<GameDir> dir = GameDir::openRoot(folder.path());
    QVERIFY(dir);
    const auto copy = delta::ReferenceCopy::make(*dir, Name);
    QVERIFY(copy);
    QFile original(folder.file(Name));
    QVERIFY(original.open(QIODevice::ReadWrite) && original.resize(0));
    QCOMPARE(copy->bytes(), QByteArrayView(Old)); // reads every page
    QCOMPARE(copy->sha256(), sha(Old));
    QCOMPARE(folder.snapshot().keys(), QStringList{Name}); // the copy has no name
    QVERIFY(!delta::ReferenceCopy::make(*dir, Name));      // an empty file is no reference
}

QTEST_GUILESS_MAIN(SmallerTest)
#include "tst_smaller.moc"
