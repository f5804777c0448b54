// Hostile settings files and places: the editor must open, never crash, say
// when it cannot save, and never damage what it cannot understand.

#include "ScriptedDialogs.h"
#include "SettingsTestSupport.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestSettingsFaults : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_dir->path(); }
    QString config() const { return folder() + u"/config.zcn"_s; }
    QStringList entries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    frmMain& open(const QString& gameFolder)
    {
        m_window = std::make_unique<frmMain>(gameFolder, &m_dialogs);
        m_window->show();
        return *m_window;
    }
    QLineEdit* field(const QString& name) const { return m_window->findChild<QLineEdit*>(name); }
    void apply()
    {
        QTest::mouseClick(m_window->findChild<QPushButton*>(u"cmdApply"_s), Qt::LeftButton);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_dialogs = {};
    }

    void cleanup() { m_window.reset(); }

    void unwritableSettingsPath_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("parent is a plain file") << u"plain-parent"_s;
        QTest::newRow("config.zcn is a folder") << u"folder"_s;
        QTest::newRow("read-only config.zcn") << u"read-only"_s;
        QTest::newRow("read-only game folder") << u"read-only-folder"_s;
    }

    void unwritableSettingsPath()
    {
        QFETCH(QString, setup);
        QString gameFolder = folder();
        QByteArray original = "[CONFIG]\r\nServer=old\r\n"_ba;
        if (setup == u"plain-parent") {
            gameFolder = folder() + u"/game"_s;
            QVERIFY(writeBytes(gameFolder, original));
        } else if (setup == u"folder") {
            QVERIFY(QDir(folder()).mkdir(u"config.zcn"_s));
            original.clear();
        } else if (setup == u"read-only") {
            QVERIFY(writeBytes(config(), original));
            QVERIFY(QFile::setPermissions(config(), QFile::ReadOwner | QFile::ReadUser));
            if (QFileInfo(config()).isWritable())
                QSKIP("permission bits are not enforced for this user");
        } else {
            QVERIFY(writeBytes(config(), original));
            QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner));
            if (QFileInfo(folder()).isWritable()) {
                QFile::setPermissions(folder(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QSKIP("permission bits are not enforced for this user");
            }
        }
        const QStringList before = entries();

        open(gameFolder);
        field(u"txtServer"_s)->setText(u"new"_s);
        apply();
        QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].icon, QMessageBox::Warning);
        QVERIFY(m_dialogs.messages[0].text.startsWith(u"Game settings could not be saved.\n"_s));
        QCOMPARE(field(u"txtServer"_s)->text(), u"new"_s);
        QCOMPARE(entries(), before);
        if (setup == u"plain-parent")
            QCOMPARE(readBytes(gameFolder), original);
        else if (!original.isEmpty())
            QCOMPARE(readBytes(config()), original);
    }

    // A file in the 8-bit code page is shown with its real characters and
    // saved whole or not at all; the window says which, and why.
    void eightBitFileSavedWholeOrNotAtAll_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("replacementFails");
        QTest::addColumn<QString>("reason"); // empty: saved

        QTest::newRow("unchanged") << u"caf\u00e9.example"_s << false << QString();
        QTest::newRow("the replacement fails")
            << u"new"_s << true << u"Cannot save %1: No space left on device"_s;
        QTest::newRow("a character the file cannot hold")
            << u"\u4e16\u754c"_s << false
            << u"Cannot write %1: the value of \"Server\" has characters"_s;
    }

    void eightBitFileSavedWholeOrNotAtAll()
    {
        QFETCH(QString, server);
        QFETCH(bool, replacementFails);
        QFETCH(QString, reason);
        const QByteArray original = "[CONFIG]\r\nServer=caf\xE9.example\r\nPort=7000\r\n";
        QVERIFY(writeBytes(config(), original));

        open(folder());
        QCOMPARE(field(u"txtServer"_s)->text(), u"caf\u00e9.example"_s);
        if (replacementFails) {
            m_window->setReplaceStep([](QSaveFile& finished) {
                finished.cancelWriting();
                return u"No space left on device"_s;
            });
        }
        field(u"txtServer"_s)->setText(server);
        field(u"txtPort"_s)->setText(u"7001"_s);
        apply();

        QCOMPARE(m_dialogs.messages.size(), 1);
        if (reason.isEmpty()) {
            QCOMPARE(m_dialogs.messages[0].text, u"Game settings saved."_s);
            QCOMPARE(readBytes(config()), "[CONFIG]\r\nServer=caf\xE9.example\r\nPort=7001\r\n"
                                          "Skin=\r\nMusic=0\r\nSound=0\r\nTitleBGM=\r\n"_ba);
            return;
        }
        const QString text = m_dialogs.messages[0].text;
        QVERIFY2(text.startsWith(u"Game settings could not be saved.\n"_s), qPrintable(text));
        QVERIFY2(text.contains(reason.arg(QDir::toNativeSeparators(config()))), qPrintable(text));
        QCOMPARE(readBytes(config()), original);
        QCOMPARE(entries(), QStringList{u"config.zcn"_s});
    }

    void binaryGarbage()
    {
        QRandomGenerator random(20261207);
        QByteArray garbage(64 * 1024, Qt::Uninitialized);
        for (char& c : garbage)
            c = char(random.bounded(256));
        // Make sure the nastiest bytes are there: NULs, lone CRs, brackets, '='.
        garbage.replace(100, 8, QByteArrayView("\0\r[=]\n\r\0", 8));
        QVERIFY(writeBytes(config(), garbage));

        open(folder());
        QVERIFY(m_window->isVisible());
        field(u"txtServer"_s)->setText(u"s.example"_s);
        field(u"txtPort"_s)->setText(u"7000"_s);
        apply();

        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].text, u"Game settings saved."_s);
        const QByteArray after = readBytes(config());
        QVERIFY2(after.startsWith(garbage), "the unreadable part was not kept as it was");
        QCOMPARE(entries(), QStringList{u"config.zcn"_s});

        // What was saved reads back.
        m_dialogs = {};
        open(folder());
        QCOMPARE(field(u"txtServer"_s)->text(), u"s.example"_s);
        QCOMPARE(field(u"txtPort"_s)->text(), u"7000"_s);
    }

    void oneMebibyteValue()
    {
        const QByteArray huge(1024 * 1024, 'm');
        const QByteArray file = "[CONFIG]\r\nServer=s\r\nPort=1\r\nSkin="_ba + huge +
                                "\r\nMusic=0\r\nSound=1\r\nTitleBGM=t.mid\r\n"_ba;
        QVERIFY(writeBytes(config(), file));

        open(folder());
        QCOMPARE(field(u"txtSkin"_s)->text().size(), huge.size());
        apply();
        QCOMPARE(m_dialogs.messages.value(0).text, u"Game settings saved."_s);
        QCOMPARE(readBytes(config()), file);

        // And a value that large typed in is written whole.
        field(u"txtServer"_s)->setText(QString(1024 * 1024, u'q'));
        apply();
        QCOMPARE(m_dialogs.messages.value(1).text, u"Game settings saved."_s);
        const QByteArray after = readBytes(config());
        const QByteArray line = "\r\nServer="_ba + QByteArray(1024 * 1024, 'q') + "\r\n"_ba;
        QVERIFY(after.contains(line));
        QCOMPARE(after.size(), file.size() + 1024 * 1024 - 1);
    }

    void carriageReturnLineEnds()
    {
        const QByteArray file = "; mac\r[CONFIG]\rServer=s\rPort=1\rSkin=k\rMusic=2\rSound=0\r"
                                "TitleBGM=t.mid\r[Other]\rx=y\r"_ba;
        QVERIFY(writeBytes(config(), file));

        open(folder());
        QCOMPARE(field(u"txtServer"_s)->text(), u"s"_s);
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), u"t.mid"_s);
        QCOMPARE(m_window->findChild<QCheckBox*>(u"optMusic"_s)->checkState(),
                 Qt::PartiallyChecked);
        field(u"txtPort"_s)->setText(u"2"_s);
        apply();

        QCOMPARE(m_dialogs.messages.value(0).text, u"Game settings saved."_s);
        QCOMPARE(readBytes(config()), "; mac\r[CONFIG]\rServer=s\rPort=2\rSkin=k\rMusic=2\r"
                                      "Sound=0\rTitleBGM=t.mid\r[Other]\rx=y\r"_ba);
    }
};

QTEST_MAIN(TestSettingsFaults)
#include "tst_settings_faults.moc"
