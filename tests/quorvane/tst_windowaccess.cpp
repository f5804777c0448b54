// The window for a player without a mouse and for assistive technology:
// PLAY and EXIT as buttons, the Tab order and the keys, the whole update's
// progress as an accessible bar, and where that bar sits on the artwork.

#include "FakeServices.h"
#include "frmUpdate.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace {

// The update handler is a plain function: it reaches the recording test's
// list through this one pointer, set only while that test runs.
QList<std::pair<QObject*, QAccessible::Event>>* recordedEvents = nullptr;

void recordEvent(QAccessibleEvent* event)
{
    if (recordedEvents)
        recordedEvents->append({event->object(), event->type()});
}

constexpr QRect PlayPlate(27, 34, 51, 38);
constexpr QRect ExitPlate(27, 84, 51, 38);
constexpr QRect BottomPanel(22, 312, 555, 75);

} // namespace

class tst_WindowAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void buttons_data();
    void buttons();
    void keyboard_data();
    void keyboard();
    void focusMarkStaysOnThePlate();
    void progressLeavesFieldsAndHeadingClear();
    void progressAndFieldsAreAnnounced();

private:
    // Shown and active (keys reach it); `activate` false: shown only, as
    // on a display without a window manager.
    std::unique_ptr<frmUpdate> makeWindow(bool activate = true)
    {
        auto window = std::make_unique<frmUpdate>(std::make_unique<FakeServices>(m_log));
        window->setGameFolder(m_dir->path());
        window->showWindow(QString());
        const bool ready = activate ? QTest::qWaitForWindowActive(window.get())
                                    : QTest::qWaitForWindowExposed(window.get());
        return ready ? std::move(window) : nullptr;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    ServiceLog m_log;
};

void tst_WindowAccess::initTestCase()
{
    QLocale::setDefault(QLocale::c()); // the figures below are in the C locale's format
}

void tst_WindowAccess::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QFile game(QDir(m_dir->path()).filePath(u"Game.zgx"_s));
    QVERIFY(game.open(QIODevice::WriteOnly));
    m_log = {};
}

void tst_WindowAccess::buttons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QRect>("geometry"); // the click area, as before
    QTest::addColumn<int>("starts");     // after the assistive press action
    QTest::addColumn<int>("ends");

    QTest::newRow("PLAY") << u"lblContinue"_s << u"PLAY"_s << QRect(27, 34, 51, 38) << 1 << 1;
    QTest::newRow("EXIT") << u"Label1"_s << u"EXIT"_s << QRect(29, 85, 51, 37) << 0 << 1;
}

void tst_WindowAccess::buttons()
{
    QFETCH(QString, name);
    QFETCH(QString, spoken);
    QFETCH(QRect, geometry);
    QFETCH(int, starts);
    QFETCH(int, ends);
    auto window = makeWindow();
    QVERIFY(window);
    window->setContinueEnabled(true);
    auto* button = window->findChild<QAbstractButton*>(name);
    QVERIFY(button);
    QCOMPARE(button->geometry(), geometry);
    QCOMPARE(button->focusPolicy(), Qt::TabFocus); // a click leaves no focus mark
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(button);
    QVERIFY(access);
    QCOMPARE(access->role(), QAccessible::Button);
    QCOMPARE(access->text(QAccessible::Name), spoken);
    QVERIFY(access->actionInterface());
    QVERIFY(access->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    access->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(m_log.ends, ends); // an animated click: it lands a moment later
    QCOMPARE(m_log.starts.size(), starts);
}

void tst_WindowAccess::keyboard_data()
{
    QTest::addColumn<bool>("playEnabled");
    QTest::addColumn<QString>("keys");    // pressed on whatever has the focus, from the start
    QTest::addColumn<QString>("focused"); // what held the focus for the last key
    QTest::addColumn<int>("starts");
    QTest::addColumn<int>("ends");

    const QString window = u"frmUpdate"_s, play = u"lblContinue"_s, exit = u"Label1"_s;
    QTest::newRow("Tab, Return: PLAY") << true << u"Tab Return"_s << play << 1 << 1;
    QTest::newRow("Tab, keypad Enter") << true << u"Tab Enter"_s << play << 1 << 1;
    QTest::newRow("Tab, Space") << true << u"Tab Space"_s << play << 1 << 1;
    QTest::newRow("Tab, Tab, Return: EXIT") << true << u"Tab Tab Return"_s << exit << 0 << 1;
    QTest::newRow("PLAY disabled: Tab reaches EXIT") << false << u"Tab Space"_s << exit << 0 << 1;
    QTest::newRow("third Tab: the notes")
        << true << u"Tab Tab Tab Escape"_s << u"brwsUpdates"_s << 0 << 1;
    QTest::newRow("Escape on PLAY") << true << u"Tab Escape"_s << play << 0 << 1;
    QTest::newRow("Escape, nothing focused") << false << u"Escape"_s << window << 0 << 1;
    QTest::newRow("Return, nothing focused") << true << u"Return"_s << window << 0 << 0;
    // Sent to PLAY itself, which cannot hold the focus while disabled.
    QTest::newRow("Return on a disabled PLAY") << false << u"Return"_s << play << 0 << 0;
    QTest::newRow("Space on a disabled PLAY") << false << u"Space"_s << play << 0 << 0;
}

void tst_WindowAccess::keyboard()
{
    QFETCH(bool, playEnabled);
    QFETCH(QString, keys);
    QFETCH(QString, focused);
    QFETCH(int, starts);
    QFETCH(int, ends);
    auto window = makeWindow();
    QVERIFY(window);
    window->setContinueEnabled(playEnabled);
    // At first the window itself holds the focus: no button is armed.
    QCOMPARE(QApplication::focusWidget(), window.get());
    const QHash<QString, Qt::Key> named{{u"Tab"_s, Qt::Key_Tab},
                                        {u"Return"_s, Qt::Key_Return},
                                        {u"Enter"_s, Qt::Key_Enter},
                                        {u"Space"_s, Qt::Key_Space},
                                        {u"Escape"_s, Qt::Key_Escape}};
    auto* updates = window->findChild<QWebEngineView*>(u"brwsUpdates"_s);
    auto* play = window->findChild<QAbstractButton*>(u"lblContinue"_s);
    QString holder;
    for (const QString& key : keys.split(u' ')) {
        QWidget* target = QApplication::focusWidget();
        if (!playEnabled && focused == play->objectName())
            target = play;
        QVERIFY(target);
        holder = updates->isAncestorOf(target) ? updates->objectName() : target->objectName();
        QTest::keyClick(target, named.value(key));
    }
    QCOMPARE(holder, focused);
    QCOMPARE(m_log.starts.size(), starts);
    QCOMPARE(m_log.ends, ends);
    QCOMPARE(window->isVisible(), ends == 0);
}

void tst_WindowAccess::focusMarkStaysOnThePlate()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->setContinueEnabled(true);
    const QRect around = PlayPlate.adjusted(-8, -8, 8, 8);
    const QImage before = window->grab(around).toImage();
    QTest::keyClick(window.get(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), u"lblContinue"_s);
    const QImage marked = window->grab(around).toImage().convertToFormat(before.format());
    int changed = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (before.pixel(x, y) != marked.pixel(x, y)) {
                ++changed;
                QVERIFY2(PlayPlate.contains(around.topLeft() + QPoint(x, y)),
                         qPrintable(u"mark outside the plate at %1,%2"_s.arg(x).arg(y)));
            }
    QVERIFY2(changed > 40, qPrintable(QString::number(changed)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // on to EXIT: the mark goes
    QCOMPARE(window->grab(around).toImage().convertToFormat(before.format()), before);
}

void tst_WindowAccess::progressLeavesFieldsAndHeadingClear()
{
    // Both texts drawn: what arrived, and "Installing...".
    auto window = makeWindow();
    QVERIFY(window);
    UpdateView& view = *window;
    view.filesPlanned(3, qint64(3) << 30);
    view.fileStarted(0, 0);
    view.fileProgressed(0, qint64(1) << 30);
    view.fileDone(0, true);
    view.installStarted();
    auto* strip = window->findChild<QProgressBar*>(u"UpdateProgress"_s);
    QVERIFY(strip);
    QTRY_VERIFY(strip->isVisible() && strip->value() > 0);
    auto bottom = [&] {
        QImage image(600, 100, QImage::Format_RGB32);
        window->render(&image, {}, QRegion(0, 300, 600, 100));
        return image;
    };
    const QImage with = bottom();
    strip->hide();
    const QImage without = bottom();

    // The artwork's heading: its gold pixels in the panel's top row.
    const QImage art(u":/quorvane/background.bmp"_s);
    QRect heading;
    for (int y = 313; y < 336; ++y)
        for (int x = 22; x < 577; ++x)
            if (const QRgb c = art.pixel(x, y); qRed(c) > 120 && qRed(c) - qBlue(c) > 60)
                heading |= QRect(x, y, 1, 1);
    QVERIFY(heading.width() > 20 && heading.width() < 80);
    QList<QRect> keepClear{heading.adjusted(-2, -2, 2, 2), PlayPlate, ExitPlate};
    for (const char* field : {"L2", "L3", "L4", "Label4"})
        keepClear.append(window->findChild<QLabel*>(QString::fromLatin1(field))->geometry());

    int drawn = 0, leftOfHeading = 0, rightOfHeading = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 600; ++x) {
            if (with.pixel(x, y) == without.pixel(x, y))
                continue;
            const QPoint at(x, y + 300);
            ++drawn;
            leftOfHeading += at.y() < 335 && at.x() < heading.left();
            rightOfHeading += at.y() < 335 && at.x() > heading.right();
            QVERIFY2(BottomPanel.contains(at),
                     qPrintable(u"outside the panel: %1,%2"_s.arg(x).arg(at.y())));
            for (const QRect& clear : std::as_const(keepClear))
                QVERIFY2(!clear.contains(at),
                         qPrintable(u"over the artwork or a field: %1,%2"_s.arg(x).arg(at.y())));
        }
    QVERIFY(drawn > 500 && leftOfHeading > 50 && rightOfHeading > 50);
}

void tst_WindowAccess::progressAndFieldsAreAnnounced()
{
    QList<std::pair<QObject*, QAccessible::Event>> events;
    recordedEvents = &events;
    QAccessible::installUpdateHandler(recordEvent);
    const auto restore = qScopeGuard([] {
        QAccessible::installUpdateHandler(nullptr);
        recordedEvents = nullptr;
    });
    // Events flow only through an active accessibility bridge (X11 with an
    // accessibility bus, see tst_windowaccess_x11): elsewhere the rest is
    // still checked.
    const bool bridged = QGuiApplication::platformName() != u"offscreen" &&
                         QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000);
    const auto announced = [&](QObject* object, QAccessible::Event type) {
        return !bridged || events.contains({object, type});
    };
    auto window = makeWindow(false);
    QVERIFY(window);
    auto* strip = window->findChild<QProgressBar*>(u"UpdateProgress"_s);
    auto* l2 = window->findChild<QLabel*>(u"L2"_s);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(strip);
    QVERIFY(bar && bar->valueInterface());
    QCOMPARE(bar->role(), QAccessible::ProgressBar);
    QCOMPARE(bar->text(QAccessible::Name), u"Update progress"_s);
    QVERIFY(bar->state().invisible); // nothing fetched yet

    UpdateView& view = *window;
    view.setStatus(u"Checking File Versions..."_s);
    QTRY_COMPARE(l2->text(), u"Checking File Versions..."_s);
    QVERIFY(announced(l2, QAccessible::NameChanged));
    QCOMPARE(QAccessible::queryAccessibleInterface(l2)->text(QAccessible::Name),
             u"Checking File Versions..."_s);

    view.filesPlanned(2, 2 * 1024 * 1024);
    view.fileStarted(0, 0);
    view.fileProgressed(0, 512 * 1024);
    QTRY_COMPARE(bar->valueInterface()->currentValue().toInt(), 250);
    QVERIFY(!bar->state().invisible);
    QCOMPARE(bar->valueInterface()->maximumValue().toInt(), 1000);
    QVERIFY2(bar->text(QAccessible::Description).startsWith(u"512.0 KiB of 2.0 MiB"_s),
             qPrintable(bar->text(QAccessible::Description)));
    QVERIFY(announced(strip, QAccessible::ValueChanged));

    // The install step is announced before it holds the thread.
    view.fileProgressed(0, 2 * 1024 * 1024);
    view.fileDone(0, true);
    events.clear();
    view.installStarted();
    QCOMPARE(bar->text(QAccessible::Description), u"2.0 MiB of 2.0 MiB, Installing..."_s);
    QVERIFY(announced(strip, QAccessible::ValueChanged));
    QVERIFY(announced(strip, QAccessible::DescriptionChanged));
    view.updateFinished(true);
    QCOMPARE(bar->valueInterface()->currentValue().toInt(), 1000);
    QCOMPARE(bar->text(QAccessible::Description), u"2.0 MiB of 2.0 MiB"_s);
    if (!bridged)
        QSKIP("no accessibility bridge here: the events are checked by tst_windowaccess_x11");
}

QTEST_MAIN(tst_WindowAccess)
#include "tst_windowaccess.moc"
