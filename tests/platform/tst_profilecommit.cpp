#include "ProfileFile.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The real last step of a save, failing for real: the folder stops taking
// new entries between the save's start and its commit, as when another
// program or an administrator changes it meanwhile.
class TestProfileCommit : public QObject
{
    Q_OBJECT

private slots:
    void folderTurnsReadOnlyBeforeCommit();
};

void TestProfileCommit::folderTurnsReadOnlyBeforeCommit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"config.zcn"_s);
    const QByteArray before = "[CONFIG]\r\nServer=old\r\nPort=1\r\n";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
    }
    const QFileDevice::Permissions open = QFile::permissions(dir.path());
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadUser | QFileDevice::ExeUser;
    bool enforced = true;
    const profile::WriteResult result = profile::writeStrings(
        path, {{u"CONFIG"_s, u"Server"_s, u"new"_s}, {u"CONFIG"_s, u"Port"_s, u"2"_s}},
        [&](QSaveFile& finished) {
            QFile::setPermissions(dir.path(), readOnly);
            // Where permission bits do not bind this user a probe gets in.
            QFile probe(dir.filePath(u"probe"_s));
            enforced = !probe.open(QIODevice::WriteOnly);
            const QString failed = profile::standardReplace(finished);
            QFile::setPermissions(dir.path(), open);
            return failed;
        });
    if (!enforced)
        QSKIP("permission bits are not enforced for this user");

    QVERIFY(!result.ok);
    QVERIFY2(result.reason.contains(u"config.zcn"_s), qPrintable(result.reason));
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    // Nothing of the attempt is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"config.zcn"_s});
}

QTEST_GUILESS_MAIN(TestProfileCommit)
#include "tst_profilecommit.moc"
