// The settings window driven as a player would: keys, clicks and file choices
// answered by the test instead of real dialogs.

#include "ModalAnswer.h"
#include "ScriptedDialogs.h"
#include "SettingsTestSupport.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kFullFile = "[CONFIG]\r\nServer=play.example.net\r\nPort=7000\r\nSkin=dark\r\n"
                             "Music=1\r\nSound=0\r\nTitleBGM=title.mid\r\n"_ba;

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private:
    QString folder() const { return m_dir->path(); }
    QString config() const { return folder() + u"/config.zcn"_s; }

    // Opens the window over the scratch game folder, shown and active.
    frmMain& open(const QString& gameFolder = {})
    {
        m_window =
            std::make_unique<frmMain>(gameFolder.isEmpty() ? folder() : gameFolder, &m_dialogs);
        m_window->show();
        [&] { QVERIFY(QTest::qWaitForWindowActive(m_window.get())); }();
        return *m_window;
    }

    template <typename T> T* child(const QString& name) const
    {
        T* w = m_window->findChild<T*>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit* field(const QString& name) const { return child<QLineEdit>(name); }
    QCheckBox* box(const QString& name) const { return child<QCheckBox>(name); }
    QPushButton* button(const QString& name) const { return child<QPushButton>(name); }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : m_window.get(), key, modifiers);
    }

    void clickBox(QCheckBox* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, 8)); }

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

    void windowFrame()
    {
        QVERIFY(writeBytes(config(), kFullFile));
        frmMain& w = open();
        QCOMPARE(w.windowTitle(), u"Tarnwick"_s);
        QCOMPARE(w.size(), QSize(320, 304));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        const Qt::WindowFlags flags = w.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w.font().pointSizeF(), 8.25);
        QCOMPARE(w.font().families().value(0), u"MS Sans Serif"_s);
        QCOMPARE(w.font().styleHint(), QFont::SansSerif);
        QVERIFY(button(u"cmdApply"_s)->isDefault());
        QVERIFY(!button(u"cmdClose"_s)->isDefault());
        QCOMPARE(QApplication::focusWidget(), field(u"txtServer"_s));
        QVERIFY(!field(u"txtServer"_s)->hasSelectedText());
        QVERIFY(w.findChild<QObject*>(u"cdSkin"_s));
        QVERIFY(w.findChild<QObject*>(u"cdMusic"_s));
    }

    void controlsSitAtTheirPlaces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("inside");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("bold");

        QTest::newRow("Frame1") << u"Frame1"_s << u"frmMain"_s << u"Host"_s << QRect(8, 8, 305, 81)
                                << true;
        QTest::newRow("Label1") << u"Label1"_s << u"Frame1"_s << u"Server:"_s
                                << QRect(8, 24, 41, 17) << false;
        QTest::newRow("txtServer")
            << u"txtServer"_s << u"Frame1"_s << QString() << QRect(48, 24, 249, 19) << false;
        QTest::newRow("Label2") << u"Label2"_s << u"Frame1"_s << u"Port:"_s << QRect(8, 48, 33, 17)
                                << false;
        QTest::newRow("txtPort") << u"txtPort"_s << u"Frame1"_s << QString()
                                 << QRect(48, 48, 249, 19) << false;
        QTest::newRow("Frame2") << u"Frame2"_s << u"frmMain"_s << u"Interface"_s
                                << QRect(8, 96, 305, 57) << true;
        QTest::newRow("txtSkin") << u"txtSkin"_s << u"Frame2"_s << QString()
                                 << QRect(8, 24, 217, 19) << false;
        QTest::newRow("cmdBrowseSkin") << u"cmdBrowseSkin"_s << u"Frame2"_s << u"&Browse..."_s
                                       << QRect(232, 24, 65, 17) << false;
        QTest::newRow("Frame3") << u"Frame3"_s << u"frmMain"_s << u"Audio"_s
                                << QRect(8, 160, 305, 113) << true;
        QTest::newRow("optMusic") << u"optMusic"_s << u"Frame3"_s << u"Music On/Off"_s
                                  << QRect(8, 24, 105, 17) << false;
        QTest::newRow("optSound") << u"optSound"_s << u"Frame3"_s << u"Sound On/Off"_s
                                  << QRect(8, 40, 105, 17) << false;
        QTest::newRow("Label3") << u"Label3"_s << u"Frame3"_s << u"Title Music:"_s
                                << QRect(8, 64, 121, 17) << false;
        QTest::newRow("txtTitleMusic")
            << u"txtTitleMusic"_s << u"Frame3"_s << QString() << QRect(8, 80, 217, 19) << false;
        QTest::newRow("cmdBrowseMusic") << u"cmdBrowseMusic"_s << u"Frame3"_s << u"Bro&wse..."_s
                                        << QRect(232, 80, 65, 17) << false;
        QTest::newRow("cmdApply") << u"cmdApply"_s << u"frmMain"_s << u"&Apply"_s
                                  << QRect(144, 280, 81, 17) << false;
        QTest::newRow("cmdClose") << u"cmdClose"_s << u"frmMain"_s << u"&Close"_s
                                  << QRect(232, 280, 81, 17) << false;
    }

    void controlsSitAtTheirPlaces()
    {
        QFETCH(QString, name);
        QFETCH(QString, inside);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QFETCH(bool, bold);

        open();
        QWidget* w = child<QWidget>(name);
        QCOMPARE(w->parentWidget()->objectName(), inside);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isVisible());
        QVERIFY(w->isEnabled());
        QCOMPARE(w->font().bold(), bold);
        QCOMPARE(w->font().pointSizeF(), 8.25);
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            text = g->title();
        else if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        QCOMPARE(text, caption);
    }

    void loadsTheSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("texts"); // server, port, skin, title music
        QTest::addColumn<int>("music");
        QTest::addColumn<int>("sound");

        QTest::newRow("all six") << kFullFile
                                 << QStringList{u"play.example.net"_s, u"7000"_s, u"dark"_s,
                                                u"title.mid"_s}
                                 << int(Qt::Checked) << int(Qt::Unchecked);
        QTest::newRow("lower-case names")
            << "[config]\nserver=s\nport=1\nskin=k\nmusic=0\nsound=1\ntitlebgm=t.mp3\n"_ba
            << QStringList{u"s"_s, u"1"_s, u"k"_s, u"t.mp3"_s} << int(Qt::Unchecked)
            << int(Qt::Checked);
        QTest::newRow("grey boxes") << "[CONFIG]\nMusic=2\nSound=2\n"_ba
                                    << QStringList{QString(), QString(), QString(), QString()}
                                    << int(Qt::PartiallyChecked) << int(Qt::PartiallyChecked);
        QTest::newRow("switches empty, others filled")
            << "[CONFIG]\nServer=s\nPort=1\nSkin=k\nMusic=\nTitleBGM=t\n"_ba
            << QStringList{u"s"_s, u"1"_s, u"k"_s, u"t"_s} << int(Qt::Unchecked)
            << int(Qt::Unchecked);
        QTest::newRow("switches not numbers")
            << "[CONFIG]\nServer=s\nMusic=on\nSound=yes\n"_ba
            << QStringList{u"s"_s, QString(), QString(), QString()} << int(Qt::Unchecked)
            << int(Qt::Unchecked);
        QTest::newRow("switches other numbers")
            << "[CONFIG]\nMusic=3\nSound=-1\nSkin=k\n"_ba
            << QStringList{QString(), QString(), u"k"_s, QString()} << int(Qt::Unchecked)
            << int(Qt::Unchecked);
    }

    void loadsTheSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, texts);
        QFETCH(int, music);
        QFETCH(int, sound);

        QVERIFY(writeBytes(config(), file));
        open();
        QCOMPARE(field(u"txtServer"_s)->text(), texts.at(0));
        QCOMPARE(field(u"txtPort"_s)->text(), texts.at(1));
        QCOMPARE(field(u"txtSkin"_s)->text(), texts.at(2));
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), texts.at(3));
        QCOMPARE(int(box(u"optMusic"_s)->checkState()), music);
        QCOMPARE(int(box(u"optSound"_s)->checkState()), sound);
        QVERIFY(m_dialogs.messages.isEmpty());
        QCOMPARE(readBytes(config()), file);
    }

    void missingFileLeavesEverythingEmptyAndCreatesNothing()
    {
        open();
        for (const QString& name : {u"txtServer"_s, u"txtPort"_s, u"txtSkin"_s, u"txtTitleMusic"_s})
            QCOMPARE(field(name)->text(), QString());
        QCOMPARE(box(u"optMusic"_s)->checkState(), Qt::Unchecked);
        QCOMPARE(box(u"optSound"_s)->checkState(), Qt::Unchecked);
        QVERIFY(!QFile::exists(config()));
    }

    void greyComesOnlyFromTheFile()
    {
        QVERIFY(writeBytes(config(), "[CONFIG]\nMusic=2\nSound=0\n"_ba));
        open();
        QCheckBox* music = box(u"optMusic"_s);
        QCheckBox* sound = box(u"optSound"_s);

        QList<Qt::CheckState> seen;
        for (int i = 0; i < 4; ++i) {
            clickBox(music);
            seen.append(music->checkState());
        }
        QCOMPARE(seen,
                 (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked}));

        seen.clear();
        for (int i = 0; i < 3; ++i) {
            clickBox(sound);
            seen.append(sound->checkState());
        }
        QCOMPARE(seen, (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked}));

        // The space bar is a click too.
        sound->setFocus();
        press(Qt::Key_Space);
        QCOMPARE(sound->checkState(), Qt::Unchecked);
    }

    void applyWritesTheSixKeysIntoAMissingFile()
    {
        open();
        field(u"txtServer"_s)->setText(u"s.example"_s);
        field(u"txtPort"_s)->setText(u"not a port"_s);
        clickBox(box(u"optMusic"_s));
        field(u"txtTitleMusic"_s)->setText(u"title.mid"_s);
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);

        QCOMPARE(readBytes(config()), "[CONFIG]\r\nServer=s.example\r\nPort=not a port\r\n"
                                      "Skin=\r\nMusic=1\r\nSound=0\r\nTitleBGM=title.mid\r\n"_ba);
        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].title, u"Tarnwick"_s);
        QCOMPARE(m_dialogs.messages[0].text, u"Game settings saved."_s);
        QCOMPARE(m_dialogs.messages[0].icon, QMessageBox::NoIcon);
        QVERIFY(m_window->isVisible());
        QCOMPARE(field(u"txtServer"_s)->text(), u"s.example"_s);
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"config.zcn"_s});
    }

    void applyRewritesInPlace()
    {
        QVERIFY(writeBytes(config(), "; keep\r\n[Video]\r\nWidth=800\r\n[CONFIG]\r\nSound=2\r\n"
                                     "Port=1\r\nMusic=0\r\nServer=a\r\nSkin=b\r\nTitleBGM=c\r\n"
                                     "Other=x\r\n\r\n[Keys]\r\nUp=W\r\n"_ba));
        open();
        field(u"txtPort"_s)->setText(u"2"_s);
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
        QCOMPARE(readBytes(config()), "; keep\r\n[Video]\r\nWidth=800\r\n[CONFIG]\r\nSound=2\r\n"
                                      "Port=2\r\nMusic=0\r\nServer=a\r\nSkin=b\r\nTitleBGM=c\r\n"
                                      "Other=x\r\n\r\n[Keys]\r\nUp=W\r\n"_ba);
        QCOMPARE(m_dialogs.messages.size(), 1);

        // Apply may be used again and again.
        field(u"txtSkin"_s)->setText(u"blue"_s);
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
        QVERIFY(readBytes(config()).contains("\r\nSkin=blue\r\n"));
        QCOMPARE(m_dialogs.messages.size(), 2);
    }

    void enterApplies_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<bool>("applies");
        QTest::addColumn<int>("dialogsOpened");

        QTest::newRow("Return in txtPort") << u"txtPort"_s << Qt::Key_Return << true << 0;
        QTest::newRow("keypad Enter in txtPort") << u"txtPort"_s << Qt::Key_Enter << true << 0;
        QTest::newRow("Return on a check box") << u"optSound"_s << Qt::Key_Return << true << 0;
        QTest::newRow("Return on Browse") << u"cmdBrowseSkin"_s << Qt::Key_Return << false << 1;
        QTest::newRow("Escape anywhere") << u"txtServer"_s << Qt::Key_Escape << false << 0;
    }

    void enterApplies()
    {
        QFETCH(QString, focus);
        QFETCH(Qt::Key, key);
        QFETCH(bool, applies);
        QFETCH(int, dialogsOpened);

        open();
        child<QWidget>(focus)->setFocus();
        press(key);
        QCOMPARE(QFile::exists(config()), applies);
        QCOMPARE(m_dialogs.messages.size(), applies ? 1 : 0);
        QCOMPARE(m_dialogs.requests.size(), dialogsOpened);
        QVERIFY(m_window->isVisible());
    }

    void accessKeys_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<bool>("saves");
        QTest::addColumn<QString>("startFolder");
        QTest::addColumn<bool>("stillOpen");

        QTest::newRow("Alt+A applies") << Qt::Key_A << true << QString() << true;
        QTest::newRow("Alt+C closes") << Qt::Key_C << false << QString() << false;
        QTest::newRow("Alt+B picks a skin") << Qt::Key_B << false << u"/Skins/"_s << true;
        QTest::newRow("Alt+W picks title music")
            << Qt::Key_W << false << u"/Sound/Music/"_s << true;
    }

    void accessKeys()
    {
        QFETCH(Qt::Key, key);
        QFETCH(bool, saves);
        QFETCH(QString, startFolder);
        QFETCH(bool, stillOpen);

        QSignalSpy finished(&open(), &QDialog::finished);
        press(key, Qt::AltModifier);
        // An access key presses its button visibly, so the click follows a moment later.
        QTRY_COMPARE(m_dialogs.messages.size() + m_dialogs.requests.size() + finished.size(), 1);
        QCOMPARE(QFile::exists(config()), saves);
        QCOMPARE(m_dialogs.messages.size(), saves ? 1 : 0);
        if (startFolder.isEmpty()) {
            QVERIFY(m_dialogs.requests.isEmpty());
        } else {
            QCOMPARE(m_dialogs.requests.size(), 1);
            QCOMPARE(m_dialogs.requests[0].startFolder, folder() + startFolder);
        }
        QCOMPARE(m_window->isVisible(), stillOpen);
        QCOMPARE(finished.size(), stillOpen ? 0 : 1);
    }

    void tabOrder()
    {
        open();
        const QStringList expected{u"txtPort"_s,        u"txtSkin"_s,  u"cmdBrowseSkin"_s,
                                   u"optMusic"_s,       u"optSound"_s, u"txtTitleMusic"_s,
                                   u"cmdBrowseMusic"_s, u"cmdApply"_s, u"cmdClose"_s,
                                   u"txtServer"_s};
        QStringList seen;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            press(Qt::Key_Tab);
            seen.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(seen, expected);

        press(Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"cmdClose"_s);
    }

    void pickSkin_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");

        QTest::newRow("blue.skn") << u"/Skins/blue.skn"_s << u"blue"_s;
        QTest::newRow("dark.blue.skn") << u"/Skins/dark.blue.skn"_s << u"dark"_s;
        QTest::newRow("blue") << u"/Skins/blue"_s << u"blue"_s;
        QTest::newRow(".skn") << u"/Skins/.skn"_s << QString();
        QTest::newRow("from another folder") << u"/elsewhere/red.skn"_s << u"red"_s;
    }

    void pickSkin()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);

        QVERIFY(writeBytes(config(), kFullFile));
        open();
        m_dialogs.answers = {folder() + chosen};
        QTest::mouseClick(button(u"cmdBrowseSkin"_s), Qt::LeftButton);

        QCOMPARE(m_dialogs.requests.size(), 1);
        const OpenFileRequest& request = m_dialogs.requests[0];
        QCOMPARE(request.startFolder, folder() + u"/Skins/"_s);
        QCOMPARE(request.filters, (QStringList{u"Skin Files (*.skn)"_s, u"All Files (*)"_s}));
        QCOMPARE(request.previousChoice, QString());
        QCOMPARE(field(u"txtSkin"_s)->text(), expected);
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), u"title.mid"_s);
        QVERIFY(m_dialogs.messages.isEmpty());
        QCOMPARE(readBytes(config()), kFullFile);
    }

    void pickTitleMusicFromAnotherFolder()
    {
        open();
        m_dialogs.answers = {u"/home/player/tunes/title.mid"_s};
        QTest::mouseClick(button(u"cmdBrowseMusic"_s), Qt::LeftButton);

        QCOMPARE(m_dialogs.requests.size(), 1);
        const OpenFileRequest& request = m_dialogs.requests[0];
        QCOMPARE(request.startFolder, folder() + u"/Sound/Music/"_s);
        QCOMPARE(request.filters, (QStringList{u"Audio File (*.mid *.mp3)"_s, u"All Files (*)"_s}));
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), u"title.mid"_s);
        QCOMPARE(field(u"txtSkin"_s)->text(), QString());
        QVERIFY(!QDir(folder() + u"/Sound"_s).exists());
    }

    void realDialogsAreAskedTheSame()
    {
        QVERIFY(QDir(folder()).mkpath(u"Skins"_s));
        QVERIFY(QDir(folder()).mkpath(u"elsewhere"_s));
        const QString skins = folder() + u"/Skins"_s;
        const QString chosen = folder() + u"/elsewhere/dark.blue.skn"_s;
        QVERIFY(writeBytes(skins + u"/blue.skn"_s, {}));
        QVERIFY(writeBytes(chosen, {}));
        m_window = std::make_unique<frmMain>(folder());
        m_window->show();
        QPushButton* browse = button(u"cmdBrowseSkin"_s);

        QString firstFolder;
        QStringList filters;
        testsupport::AnswerModal<QFileDialog> pick([&](QFileDialog* d) {
            firstFolder = d->directory().absolutePath();
            filters = d->nameFilters();
            // selectFile() leaves the file name field alone while it has the focus.
            if (QWidget* focused = d->focusWidget())
                focused->clearFocus();
            d->selectFile(chosen);
            QMetaObject::invokeMethod(d, "accept");
        });
        QTest::mouseClick(browse, Qt::LeftButton);
        QVERIFY(pick.answered());
        QCOMPARE(firstFolder, QDir(skins).absolutePath());
        QCOMPARE(filters, (QStringList{u"Skin Files (*.skn)"_s, u"All Files (*)"_s}));
        QCOMPARE(field(u"txtSkin"_s)->text(), u"dark"_s);

        QStringList offered;
        testsupport::AnswerModal<QFileDialog> cancel([&](QFileDialog* d) {
            offered = d->selectedFiles();
            d->reject();
        });
        QTest::mouseClick(browse, Qt::LeftButton);
        QVERIFY(cancel.answered());
        QCOMPARE(offered, QStringList{chosen});
        QCOMPARE(field(u"txtSkin"_s)->text(), u"dark"_s);

        QString text;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QMessageBox::StandardButtons buttons;
        QString title;
        testsupport::AnswerModal<QMessageBox> saved([&](QMessageBox* box) {
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            title = box->windowTitle();
            box->accept();
        });
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
        QVERIFY(saved.answered());
        QCOMPARE(text, u"Game settings saved."_s);
        QCOMPARE(title, u"Tarnwick"_s);
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, QMessageBox::Ok);
    }

    void cancelChangesNothingAndEachPickerKeepsItsChoice()
    {
        QVERIFY(writeBytes(config(), kFullFile));
        open();
        QPushButton* skin = button(u"cmdBrowseSkin"_s);
        QPushButton* music = button(u"cmdBrowseMusic"_s);
        const QString first = folder() + u"/Skins/blue.skn"_s;
        const QString tune = u"/tunes/intro.mp3"_s;

        m_dialogs.answers = {std::nullopt, first, std::nullopt, tune, u"/x/red.skn"_s};
        QTest::mouseClick(skin, Qt::LeftButton); // cancelled
        QCOMPARE(field(u"txtSkin"_s)->text(), u"dark"_s);
        QTest::mouseClick(skin, Qt::LeftButton); // blue.skn
        QCOMPARE(field(u"txtSkin"_s)->text(), u"blue"_s);
        field(u"txtSkin"_s)->setText(u"typed"_s);
        QTest::mouseClick(skin, Qt::LeftButton); // cancelled
        QCOMPARE(field(u"txtSkin"_s)->text(), u"typed"_s);
        QTest::mouseClick(music, Qt::LeftButton); // intro.mp3
        QTest::mouseClick(skin, Qt::LeftButton);  // red.skn

        QCOMPARE(m_dialogs.requests.size(), 5);
        QCOMPARE(m_dialogs.requests[0].previousChoice, QString());
        QCOMPARE(m_dialogs.requests[1].previousChoice, QString());
        QCOMPARE(m_dialogs.requests[2].previousChoice, first);
        QCOMPARE(m_dialogs.requests[3].previousChoice, QString()); // the music picker's own
        QCOMPARE(m_dialogs.requests[4].previousChoice, first);
        QCOMPARE(field(u"txtSkin"_s)->text(), u"red"_s);
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), u"intro.mp3"_s);

        m_dialogs.answers = {std::nullopt};
        QTest::mouseClick(music, Qt::LeftButton);
        QCOMPARE(m_dialogs.requests.last().previousChoice, tune);
        QCOMPARE(field(u"txtTitleMusic"_s)->text(), u"intro.mp3"_s);
        QVERIFY(m_dialogs.messages.isEmpty());
        QCOMPARE(readBytes(config()), kFullFile);
    }

    void failedApplySaysWhyAndKeepsTheFields_data()
    {
        QTest::addColumn<QString>("gameFolder");
        QTest::addColumn<bool>("settingsIsFolder");

        QTest::newRow("game folder is a plain file") << u"/plain"_s << false;
        QTest::newRow("game folder missing") << u"/gone/deeper"_s << false;
        QTest::newRow("config.zcn is a folder") << QString() << true;
    }

    void failedApplySaysWhyAndKeepsTheFields()
    {
        QFETCH(QString, gameFolder);
        QFETCH(bool, settingsIsFolder);

        QVERIFY(writeBytes(folder() + u"/plain"_s, "x"_ba));
        if (settingsIsFolder)
            QVERIFY(QDir(folder()).mkdir(u"config.zcn"_s));
        const QStringList before =
            QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        open(folder() + gameFolder);
        field(u"txtServer"_s)->setText(u"s.example"_s);
        clickBox(box(u"optSound"_s));
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);

        QCOMPARE(m_dialogs.messages.size(), 1);
        const ScriptedDialogs::Message& m = m_dialogs.messages[0];
        QCOMPARE(m.title, u"Tarnwick"_s);
        QCOMPARE(m.icon, QMessageBox::Warning);
        const QString lead = u"Game settings could not be saved.\n"_s;
        QVERIFY2(m.text.startsWith(lead), qPrintable(m.text));
        QVERIFY2(!m.text.mid(lead.size()).trimmed().isEmpty(), "no reason given");
        QCOMPARE(field(u"txtServer"_s)->text(), u"s.example"_s);
        QCOMPARE(box(u"optSound"_s)->checkState(), Qt::Checked);
        QVERIFY(m_window->isVisible());
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 before);
        QCOMPARE(readBytes(folder() + u"/plain"_s), "x"_ba);
    }

    void closeAfterEditsLeavesTheFileAlone()
    {
        QVERIFY(writeBytes(config(), kFullFile));
        QSignalSpy finished(&open(), &QDialog::finished);
        field(u"txtServer"_s)->setText(u"changed"_s);
        clickBox(box(u"optMusic"_s));
        QTest::mouseClick(button(u"cmdClose"_s), Qt::LeftButton);

        QVERIFY(!m_window->isVisible());
        QCOMPARE(finished.size(), 1);
        QVERIFY(m_dialogs.messages.isEmpty());
        QCOMPARE(readBytes(config()), kFullFile);
    }

    void longValuesSurviveLoadAndApply()
    {
        const QByteArray server(300, 's');
        const QByteArray file = "[CONFIG]\r\nServer="_ba + server +
                                "\r\nPort=7000\r\nSkin=dark\r\nMusic=1\r\nSound=2\r\nTitleBGM="_ba +
                                QByteArray(40000, 't') + "\r\n"_ba;
        QVERIFY(writeBytes(config(), file));
        open();
        QCOMPARE(field(u"txtServer"_s)->text(), QString::fromLatin1(server));
        QTest::mouseClick(button(u"cmdApply"_s), Qt::LeftButton);
        QCOMPARE(m_dialogs.messages.value(0).text, u"Game settings saved."_s);
        QCOMPARE(readBytes(config()), file);
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
