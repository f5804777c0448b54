// The settings file as the editor reads and writes it, without a window.

#include "GameSettings.h"
#include "SettingsTestSupport.h"
#include "modDAta.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using gamesettings::Switch;

class TestSettingsFile : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_dir->path(); }
    QString config() const { return modDAta::settingsPath(folder()); }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void readingAMissingFileGivesEmptyAndCreatesNothing()
    {
        QCOMPARE(modDAta::GetINI(config(), u"CONFIG"_s, u"Server"_s), QString());
        QCOMPARE(gamesettings::load(folder()), gamesettings::Settings());
        QVERIFY(!QFile::exists(config()));
    }

    void readsValuesWholeAndMatchesNamesInAnyCase_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray longValue(300, 'x');
        QTest::newRow("plain") << "[CONFIG]\r\nServer=play.example.net\r\n"_ba << u"Server"_s
                               << u"play.example.net"_s;
        QTest::newRow("lower-case names") << "[config]\nport=7000\n"_ba << u"Port"_s << u"7000"_s;
        QTest::newRow("blanks around")
            << "[CONFIG]\n  Skin =  dark  \n"_ba << u"Skin"_s << u"dark"_s;
        QTest::newRow("empty value") << "[CONFIG]\nSkin=\n"_ba << u"Skin"_s << QString();
        QTest::newRow("other section only") << "[OTHER]\nSkin=x\n"_ba << u"Skin"_s << QString();
        QTest::newRow("300 characters, not cut") << "[CONFIG]\nServer="_ba + longValue + "\n"_ba
                                                 << u"Server"_s << QString::fromLatin1(longValue);
    }

    void readsValuesWholeAndMatchesNamesInAnyCase()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(writeBytes(config(), file));
        QCOMPARE(modDAta::GetINI(config(), u"CONFIG"_s, key), expected);
    }

    void switchText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Switch>("expected");

        QTest::newRow("0") << u"0"_s << Switch::Off;
        QTest::newRow("1") << u"1"_s << Switch::On;
        QTest::newRow("2") << u"2"_s << Switch::Grey;
        QTest::newRow("empty, as at the first start") << QString() << Switch::Off;
        QTest::newRow("not a number") << u"on"_s << Switch::Off;
        QTest::newRow("number then letters") << u"1x"_s << Switch::Off;
        QTest::newRow("another number") << u"3"_s << Switch::Off;
        QTest::newRow("negative") << u"-1"_s << Switch::Off;
        QTest::newRow("beyond 16 bits") << u"65537"_s << Switch::Off;
    }

    void switchText()
    {
        QFETCH(QString, text);
        QFETCH(Switch, expected);
        QCOMPARE(gamesettings::switchFromText(text, QLocale::c()), expected);
    }

    void chosenFileNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("skin");
        QTest::addColumn<QString>("title");

        QTest::newRow("blue.skn") << u"/g/Skins/blue.skn"_s << u"blue"_s << u"blue.skn"_s;
        QTest::newRow("dark.blue.skn")
            << u"/g/Skins/dark.blue.skn"_s << u"dark"_s << u"dark.blue.skn"_s;
        QTest::newRow("no extension") << u"/g/Skins/blue"_s << u"blue"_s << u"blue"_s;
        QTest::newRow("nothing before the dot") << u"/g/Skins/.skn"_s << QString() << u".skn"_s;
        QTest::newRow("dotted folder") << u"/g/my.skins/blue.skn"_s << u"blue"_s << u"blue.skn"_s;
        QTest::newRow("music elsewhere") << u"/home/p/title.mid"_s << u"title"_s << u"title.mid"_s;
    }

    void chosenFileNames()
    {
        QFETCH(QString, path);
        QFETCH(QString, skin);
        QFETCH(QString, title);
        QCOMPARE(gamesettings::skinName(path), skin);
        QCOMPARE(gamesettings::fileTitle(path), title);
    }

    void saveReplacesInPlaceAndKeepsEverythingElse()
    {
        QVERIFY(writeBytes(config(), "; game settings\n[Video]\nWidth=800\n\n[config]\n"
                                     "port=1\nExtra=keep me\nserver = old\n; end\n[Z]\nq=1\n"_ba));
        const gamesettings::Settings s{u"new"_s,     u"2"_s,     u"dark"_s,
                                       Switch::Grey, Switch::On, u"a.mp3"_s};
        QVERIFY(gamesettings::save(folder(), s));
        QCOMPARE(readBytes(config()),
                 "; game settings\n[Video]\nWidth=800\n\n[config]\nport=2\nExtra=keep me\n"
                 "server=new\nSkin=dark\nMusic=2\nSound=1\nTitleBGM=a.mp3\n; end\n[Z]\nq=1\n"_ba);
    }

    void saveFailureGivesItsReason()
    {
        // The "game folder" is a plain file, so no settings file can exist inside it.
        const QString notAFolder = folder() + u"/plain"_s;
        QVERIFY(writeBytes(notAFolder, "x"_ba));
        const profile::WriteResult result = gamesettings::save(notAFolder, {});
        QVERIFY(!result.ok);
        QVERIFY(!result.reason.isEmpty());
        QCOMPARE(readBytes(notAFolder), "x"_ba);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
