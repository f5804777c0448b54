// The updater window and its update run against a real nginx serving the demo
// site: an update from 1.0 to 1.1, an up-to-date run, a run without a web
// site, a quit in the middle of a download, and what the window then shows.

#include "FakeServices.h"
#include "Inet.h"
#include "NginxServer.h"
#include "UpdateSession.h"
#include "frmUpdate.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <chrono>

using namespace Qt::StringLiterals;

namespace {

const QString kDemo = QStringLiteral(QV_DEMO_DIR);

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct SiteFile
{
    QString name;
    QString folder;
};

// The files the demo manifest lists, with the folder each is installed in.
const QList<SiteFile> kSiteFiles = {{u"readme.txt"_s, {}},
                                    {u"maps.dat"_s, u"data"_s},
                                    {u"items.dat"_s, u"data"_s},
                                    {u"autumn.skn"_s, u"Skins"_s},
                                    {u"winter.skn"_s, u"Skins"_s}};

QString siteFile(const QString& name)
{
    return kDemo + u"/site/"_s + name;
}

QString text(const QWidget& window, const QString& name)
{
    return window.findChild<QLabel*>(name)->text();
}

// Every file below `folder`, relative, sorted.
// The run log aside: each run adds to it.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = QDir(folder).relativeFilePath(it.next());
        if (file != u"Quorvane.log"_s)
            files.append(file);
    }
    files.sort();
    return files;
}

// Mean colour of a rectangle of `image`.
QColor meanColour(const QImage& image, const QRect& area)
{
    qint64 r = 0, g = 0, b = 0, n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            r += qRed(c);
            g += qGreen(c);
            b += qBlue(c);
            ++n;
        }
    return QColor(int(r / n), int(g / n), int(b / n));
}

int whitePixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            count += qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200;
        }
    return count;
}

} // namespace

class tst_QuorvaneEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void updatesFrom10To11();
    void upToDate();
    void noWebSite();
    void quitDuringDownload();

private:
    void installRelease10();
    void pointAt(const QString& site);
    std::unique_ptr<frmUpdate> makeWindow()
    {
        auto window = std::make_unique<frmUpdate>(std::make_unique<FakeServices>(m_log));
        window->setGameFolder(m_game->path());
        return window;
    }
    // The program's run over `window`, waited for within a bound; the labels
    // are read after the next frame.
    bool runUpdate(frmUpdate& window)
    {
        Inet inet;
        // nginx on this machine answers at once: a transfer that stalls for
        // this long fails the run well within the test's time limit.
        inet.setInactivityTimeout(std::chrono::seconds(10));
        UpdateSession run(m_game->path(), inet, window);
        QObject::connect(&window, &frmUpdate::quitRequested, &run, &UpdateSession::requestQuit);
        QSignalSpy ended(&run, &UpdateSession::finished);
        run.UpdateRun();
        if (ended.isEmpty() && !ended.wait(60000))
            QTest::qFail("the run did not end within a minute", __FILE__, __LINE__);
        window.statusModel().flush();
        return run.quitRequested();
    }
    QString game(const QString& relative) const { return m_game->filePath(relative); }

    NginxServer m_nginx;
    std::unique_ptr<QTemporaryDir> m_game;
    ServiceLog m_log;
};

void tst_QuorvaneEndToEnd::initTestCase()
{
    if (NginxServer::program().isEmpty())
        QSKIP("nginx is not installed (scripts/setup installs it)");
    QVERIFY2(m_nginx.start(kDemo + u"/site"_s), qPrintable(m_nginx.error()));
}

void tst_QuorvaneEndToEnd::init()
{
    m_game = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/quorvane e2e XXXXXX"_s);
    QVERIFY(m_game->isValid());
    m_log = {};
}

void tst_QuorvaneEndToEnd::cleanup()
{
    m_game.reset();
}

// A game folder at release 1.0: its manifest, one file already current and
// one older file.
void tst_QuorvaneEndToEnd::installRelease10()
{
    QVERIFY(QFile::copy(kDemo + u"/game/info.ini"_s, game(u"info.ini"_s)));
    QVERIFY(writeFile(game(u"data/items.dat"_s), readAll(siteFile(u"items.dat"_s))));
    QVERIFY(writeFile(game(u"data/maps.dat"_s), QByteArray(200000, 'x'))); // longer than 1.1's
}

void tst_QuorvaneEndToEnd::pointAt(const QString& site)
{
    QVERIFY(writeFile(game(u"Updater.ini"_s), "[UPDATER]\r\nWebSite=" + site.toUtf8() + "\r\n"));
}

void tst_QuorvaneEndToEnd::updatesFrom10To11()
{
    installRelease10();
    // Written without scheme or closing slash, as publishers often do.
    pointAt(m_nginx.url().mid(int(qstrlen("http://"))));

    auto window = makeWindow();
    auto* updates = window->findChild<QWebEngineView*>(u"brwsUpdates"_s);
    auto* news = window->findChild<QWebEngineView*>(u"brwsNews"_s);
    QSignalSpy updatesLoaded(updates, &QWebEngineView::loadFinished);
    QSignalSpy newsLoaded(news, &QWebEngineView::loadFinished);

    runUpdate(*window);

    for (const SiteFile& f : kSiteFiles) {
        const QString local = f.folder.isEmpty() ? f.name : f.folder + u'/' + f.name;
        QVERIFY2(readAll(game(local)) == readAll(siteFile(f.name)), qPrintable(local));
    }
    QCOMPARE(readAll(game(u"info.ini"_s)), readAll(siteFile(u"info.ini"_s)));
    QVERIFY(!QFile::exists(game(u"temp.ini"_s)));
    QCOMPARE(
        filesBelow(m_game->path()),
        QStringList({u"Skins/autumn.skn"_s, u"Skins/winter.skn"_s, u"Updater.ini"_s,
                     u"data/items.dat"_s, u"data/maps.dat"_s, u"info.ini"_s, u"readme.txt"_s}));
    QCOMPARE(text(*window, u"L2"_s), u"Updated To Version 1.1!"_s);
    const QByteArray log = readAll(game(u"Quorvane.log"_s));
    QVERIFY2(log.contains("file maps.dat (try 1): HTTP 200, ") &&
                 log.contains("end: Updated To Version 1.1!"),
             log.constData());
    QCOMPARE(text(*window, u"L4"_s), u"Version 1.1"_s);
    QCOMPARE(text(*window, u"L3"_s), QString());
    QCOMPARE(text(*window, u"Label4"_s), u"100%"_s);
    QVERIFY(window->findChild<QAbstractButton*>(u"lblContinue"_s)->isEnabled());
    // The unchanged file was not fetched again.
    QVERIFY(!m_nginx.requests().contains(u"GET /items.dat HTTP/1.1"_s));

    // Both pages come from the site's host, and they cover the light panels.
    QTRY_COMPARE_WITH_TIMEOUT(updatesLoaded.size(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(newsLoaded.size(), 1, 20000);
    QVERIFY(updatesLoaded.first().first().toBool());
    QVERIFY(newsLoaded.first().first().toBool());
    QCOMPARE(updates->url(), QUrl(m_nginx.url(u"/updates/updates.htm"_s)));
    QCOMPARE(news->url(), QUrl(m_nginx.url(u"/updates/news.htm"_s)));

    // The page headers (dark red) are drawn where the picture has light
    // parchment: the views cover the panels and show the pages.
    QImage shot;
    const auto isPageHeader = [](const QColor& c) {
        return c.red() > c.blue() + 30 && c.lightness() < 110;
    };
    const auto panelsShowPages = [&] {
        shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return isPageHeader(meanColour(shot, {340, 40, 35, 8})) &&
               isPageHeader(meanColour(shot, {500, 40, 50, 8}));
    };
    QTRY_VERIFY_WITH_TIMEOUT(panelsShowPages(), 20000);
    shot.save(QDir::current().filePath(u"quorvane-e2e.png"_s));
    // White status text on the dark panel: the status line and the version.
    QVERIFY(whitePixels(shot, {101, 345, 392, 17}) > 40);
    QVERIFY(whitePixels(shot, {93, 361, 145, 17}) > 20);
    QVERIFY(whitePixels(shot, {493, 361, 49, 17}) > 10);
    // Nothing white where no text is.
    QCOMPARE(whitePixels(shot, {30, 380, 540, 6}), 0);
}

void tst_QuorvaneEndToEnd::upToDate()
{
    QVERIFY(QFile::copy(siteFile(u"info.ini"_s), game(u"info.ini"_s)));
    // Of the listed sizes: a file of another size would be fetched again.
    const auto installed = [&](const SiteFile& f) {
        return QByteArray("installed " + f.name.toUtf8())
            .leftJustified(QFileInfo(siteFile(f.name)).size(), ' ');
    };
    for (const SiteFile& f : kSiteFiles)
        QVERIFY(
            writeFile(game(f.folder.isEmpty() ? f.name : f.folder + u'/' + f.name), installed(f)));
    pointAt(m_nginx.url(u"/"_s));
    const QStringList before = filesBelow(m_game->path());
    const qsizetype requestsBefore = m_nginx.requests().size();

    auto window = makeWindow();
    runUpdate(*window);

    QCOMPARE(text(*window, u"L2"_s), u"You Have The Latest Version!"_s);
    QCOMPARE(text(*window, u"L4"_s), u"Version 1.1"_s);
    QVERIFY(window->findChild<QAbstractButton*>(u"lblContinue"_s)->isEnabled());
    QVERIFY(!QFile::exists(game(u"temp.ini"_s)));
    QCOMPARE(filesBelow(m_game->path()), before);
    QCOMPARE(readAll(game(u"info.ini"_s)), readAll(siteFile(u"info.ini"_s)));
    for (const SiteFile& f : kSiteFiles)
        QCOMPARE(readAll(game(f.folder.isEmpty() ? f.name : f.folder + u'/' + f.name)),
                 installed(f));
    // Only the manifest was fetched (the pages, and the web view's own icon
    // request, may be in flight as well).
    const QStringList fetched = m_nginx.requests().mid(requestsBefore);
    for (const QString& request : fetched)
        QVERIFY2(request == u"GET /info.ini HTTP/1.1"_s || request.startsWith(u"GET /updates/"_s) ||
                     request.startsWith(u"GET /favicon.ico "_s),
                 qPrintable(request));
    QVERIFY(fetched.contains(u"GET /info.ini HTTP/1.1"_s));
}

void tst_QuorvaneEndToEnd::noWebSite()
{
    installRelease10();
    const qsizetype requestsBefore = m_nginx.requests().size();

    auto window = makeWindow();
    runUpdate(*window);

    QCOMPARE(text(*window, u"L2"_s), u"Please Input The Correct Web URL!"_s);
    QCOMPARE(text(*window, u"L4"_s), u"Version 1.0"_s);
    QVERIFY(window->findChild<QAbstractButton*>(u"lblContinue"_s)->isEnabled());
    QVERIFY(window->findChild<QWebEngineView*>(u"brwsUpdates"_s)->page()->requestedUrl().isEmpty());
    QVERIFY(window->findChild<QWebEngineView*>(u"brwsNews"_s)->page()->requestedUrl().isEmpty());
    QVERIFY(readAll(game(u"Updater.ini"_s)).contains("WebSite="));
    QCOMPARE(readAll(game(u"info.ini"_s)), readAll(kDemo + u"/game/info.ini"_s));
    QTest::qWait(200);
    QCOMPARE(m_nginx.requests().size(), requestsBefore);

    // Continue works at once; without a game it says where to put it.
    auto* play = window->findChild<QAbstractButton*>(u"lblContinue"_s);
    QTest::mouseClick(play, Qt::LeftButton, {}, play->rect().center());
    QCOMPARE(m_log.messages.size(), 1);
    QCOMPARE(m_log.messages[0].text, u"Please place this in the same folder as Game.zgx!"_s);
}

void tst_QuorvaneEndToEnd::quitDuringDownload()
{
    installRelease10();
    const QByteArray oldMaps = readAll(game(u"data/maps.dat"_s));
    pointAt(m_nginx.url(u"/slow/"_s)); // 32 KiB/s: maps.dat alone takes seconds

    auto window = makeWindow();
    auto* exit = window->findChild<QAbstractButton*>(u"Label1"_s);
    QElapsedTimer sinceClick;
    QTimer::singleShot(1500, window.get(), [&] {
        sinceClick.start();
        QTest::mouseClick(exit, Qt::LeftButton, {}, exit->rect().center());
    });
    const bool quit = runUpdate(*window);

    QVERIFY2(sinceClick.isValid(), "the run ended before EXIT was pressed");
    // EXIT ends the run within half a second, its transfers and part files included.
    QVERIFY2(sinceClick.elapsed() < 500, qPrintable(QString::number(sinceClick.elapsed())));
    QVERIFY(quit);
    QCOMPARE(m_log.ends, 1);

    // Nothing half-written: the installed manifest is untouched and every
    // game file is either its old self or the complete new one.
    QCOMPARE(readAll(game(u"info.ini"_s)), readAll(kDemo + u"/game/info.ini"_s));
    const QByteArray maps = readAll(game(u"data/maps.dat"_s));
    QVERIFY(maps == oldMaps || maps == readAll(siteFile(u"maps.dat"_s)));
    bool kept = false; // what arrived of maps.dat, kept to resume from
    for (const QString& file : filesBelow(m_game->path())) {
        const QString name = QFileInfo(file).fileName();
        if (name == u"Updater.ini"_s || name == u"info.ini"_s || name == u"temp.ini"_s ||
            name == u"Quorvane.resume"_s)
            continue;
        if (name.startsWith(u".qvpart-"_s) && !kept) {
            kept = true;
            QVERIFY(readAll(siteFile(u"maps.dat"_s)).startsWith(readAll(game(file))));
            continue;
        }
        QVERIFY2(std::any_of(kSiteFiles.begin(), kSiteFiles.end(),
                             [&](const SiteFile& f) { return f.name == name; }),
                 qPrintable(u"left behind: "_s + file));
        if (name != u"maps.dat"_s)
            QCOMPARE(readAll(game(file)), readAll(siteFile(name)));
    }
    QCOMPARE(QFile::exists(game(u"Quorvane.resume"_s)), kept);

    // The next run asks only for the rest of maps.dat and installs it whole.
    auto again = makeWindow();
    QVERIFY(!runUpdate(*again));
    QCOMPARE(text(*again, u"L2"_s), u"Updated To Version 1.1!"_s);
    QCOMPARE(readAll(game(u"data/maps.dat"_s)), readAll(siteFile(u"maps.dat"_s)));
    QVERIFY(!QFile::exists(game(u"Quorvane.resume"_s)));
    for (const QString& file : filesBelow(m_game->path()))
        QVERIFY2(!QFileInfo(file).fileName().startsWith(u".qvpart-"_s), qPrintable(file));
    if (kept)
        QVERIFY2(readAll(game(u"Quorvane.log"_s)).contains("file maps.dat (try 1): HTTP 206"),
                 readAll(game(u"Quorvane.log"_s)).constData());
}

QTEST_MAIN(tst_QuorvaneEndToEnd)
#include "tst_quorvane_e2e.moc"
