#include "frmUpdate.h"

#include "FieldLabel.h"
#include "GameFolder.h"
#include "NewsPage.h"
#include "ProgressStrip.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

static void initResources()
{
    Q_INIT_RESOURCE(quorvane);
}

namespace {

// "Tahoma" 8.25 pt; where it is missing, the nearest sans-serif that is there.
QFont fieldFont()
{
    QFont font(u"Tahoma"_s);
    font.setFamilies(
        {u"Tahoma"_s, u"Verdana"_s, u"DejaVu Sans"_s, u"Liberation Sans"_s, u"Arial"_s});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

template <typename Label>
Label* makeLabel(QWidget* parent, const QString& name, const QRect& geometry,
                 Qt::Alignment alignment, const QColor& textColour, const QString& text = {})
{
    auto* label = new Label(parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(fieldFont());
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setFocusPolicy(Qt::NoFocus);
    QPalette palette = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText, textColour);
    label->setPalette(palette);
    return label;
}

ClickArea* makeButton(QWidget* parent, const QString& name, const QString& accessibleName,
                      const QRect& geometry, const QRect& plate)
{
    auto* button = new ClickArea(plate, parent);
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    button->setGeometry(geometry);
    return button;
}

} // namespace

frmUpdate::frmUpdate(std::unique_ptr<WindowServices> services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_services(services ? std::move(services) : systemServices()),
      m_gameFolder(gamefolder::path())
{
    initResources();
    setObjectName(u"frmUpdate"_s);
    setWindowTitle(kCaption.toString());
    setWindowIcon(QIcon(u":/quorvane/quorvane.png"_s));
    setFixedSize(600, 400);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_background.load(u":/quorvane/background.bmp"_s);

    // An off-the-record profile: the news pages leave nothing in the
    // player's home folder.
    m_profile = new QWebEngineProfile(this);

    // Geometry in pixels: the twips of the original layout divided by 15.
    const QColor white(255, 255, 255);
    m_continue = makeButton(this, u"lblContinue"_s, u"PLAY"_s, {27, 34, 51, 38}, {27, 34, 51, 38});
    m_quit = makeButton(this, u"Label1"_s, u"EXIT"_s, {29, 85, 51, 37}, {27, 84, 51, 38});
    m_l2 = makeLabel<FieldLabel>(this, u"L2"_s, {101, 345, 392, 17}, Qt::AlignHCenter, white);
    m_l3 = makeLabel<FieldLabel>(this, u"L3"_s, {253, 361, 233, 17}, Qt::AlignHCenter, white);
    m_label4 = makeLabel<FieldLabel>(this, u"Label4"_s, {493, 361, 49, 17}, Qt::AlignHCenter, white,
                                     u"100%"_s);
    m_l4 = makeLabel<FieldLabel>(this, u"L4"_s, {93, 361, 145, 17}, Qt::AlignLeft, white);
    // In the heading row of the bottom panel, either side of its heading.
    m_progress = new ProgressStrip(kStatusHeading, this);
    m_progress->setObjectName(u"UpdateProgress"_s);
    m_progress->setGeometry(kProgressStrip);
    m_progress->setFont(fieldFont());
    m_continue->setEnabled(false);
    m_model.setProgress(m_label4->text());

    const auto openExternal = [this](const QUrl& url) { m_services->openExternal(url); };
    auto makeView = [&](const QString& name, const QRect& geometry) {
        auto* view = new QWebEngineView(this);
        view->setObjectName(name);
        view->setGeometry(geometry);
        view->setPage(new NewsPage(m_profile, openExternal, view));
        view->setContextMenuPolicy(Qt::NoContextMenu);
        view->setAcceptDrops(false);
        view->setFocusPolicy(Qt::StrongFocus);
        return view;
    };
    m_updates = makeView(u"brwsUpdates"_s, {104, 36, 291, 255});
    m_news = makeView(u"brwsNews"_s, {421, 36, 153, 255});
    QWidget::setTabOrder(m_continue, m_quit);
    QWidget::setTabOrder(m_quit, m_updates);
    QWidget::setTabOrder(m_updates, m_news);
    // The window itself holds the focus at first: no button is armed until
    // the player moves to it.
    setFocus(Qt::OtherFocusReason);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &frmUpdate::quitAction);

    connect(&m_model, &StatusModel::frameReady, this, &frmUpdate::applyStatus);
    connect(m_continue, &ClickArea::clicked, this, &frmUpdate::continueAction);
    connect(m_quit, &ClickArea::clicked, this, &frmUpdate::quitAction);
}

frmUpdate::~frmUpdate()
{
    // Pages must go before the profile they were made with.
    delete m_updates;
    delete m_news;
}

void frmUpdate::showWindow(const QString& siteUrl)
{
    if (!m_loaded) {
        m_loaded = true;
        loadPages(siteUrl);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    show();
    activateWindow();
}

void frmUpdate::loadPages(const QString& site)
{
    const QUrl updates = sitePageUrl(site, kUpdatesPath.toString());
    const QUrl news = sitePageUrl(site, kNewsPath.toString());
    if (!updates.isEmpty())
        m_updates->load(updates);
    if (!news.isEmpty())
        m_news->load(news);
}

void frmUpdate::setStatus(const QString& text)
{
    m_model.setStatus(text);
}

void frmUpdate::setDetail(const QString& text)
{
    m_model.setDetail(text);
}

void frmUpdate::setVersion(const QString& text)
{
    m_model.setVersion(text);
}

void frmUpdate::setProgress(const QString& text)
{
    m_model.setProgress(text);
}

// PLAY answers at once; only the texts wait for the next frame.
void frmUpdate::setContinueEnabled(bool enabled)
{
    m_model.setContinueEnabled(enabled);
    m_continue->setEnabled(enabled);
}

void frmUpdate::filesPlanned(int files, std::optional<qint64> totalBytes)
{
    m_model.filesPlanned(files, totalBytes);
}

void frmUpdate::fileStarted(int index, qint64 offset)
{
    m_model.fileStarted(index, offset);
}

void frmUpdate::fileProgressed(int index, qint64 position)
{
    m_model.fileProgressed(index, position);
}

void frmUpdate::fileReplanned(int index, qint64 was, qint64 now)
{
    m_model.fileReplanned(index, was, now);
}

void frmUpdate::fileDone(int index, bool ok)
{
    m_model.fileDone(index, ok);
}

// Painted at once: a short install would otherwise end before the next frame
// and its wording would never be seen.
void frmUpdate::installStarted()
{
    m_model.installStarted();
    if (m_progress->isVisible())
        m_progress->repaint();
}

void frmUpdate::updateFinished(bool complete)
{
    m_model.updateFinished(complete);
}

void frmUpdate::applyStatus()
{
    m_progress->follow(m_model.updateProgress(), m_model.progressLine());
    m_l2->announceText(m_model.text(StatusField::Status));
    m_l3->announceText(m_model.text(StatusField::Detail));
    m_l4->announceText(m_model.text(StatusField::Version));
    m_label4->announceText(m_model.text(StatusField::Progress));
    m_continue->setEnabled(m_model.continueEnabled());
}

void frmUpdate::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
}

void frmUpdate::closeEvent(QCloseEvent* event)
{
    // Closed from outside (window manager, session end): same as EXIT.
    event->accept();
    quitAction();
}

void frmUpdate::continueAction()
{
    if (!m_continue->isEnabled() || m_ending)
        return;
    // Always the fixed name, whatever the manifest's GameFileName said.
    const QString gameFile = kGameFileName.toString();
    const QString gameFolder = m_gameFolder;
    const QString game = QDir(gameFolder).filePath(gameFile);
    if (!gamefolder::plainFileExists(game)) {
        m_services->message(this, kAppTitle.toString(),
                            u"Please place this in the same folder as "_s % gameFile % u"!"_s);
        return;
    }
    if (!m_services->startDetached(game, {u"--startedbypatcher"_s}, gameFolder)) {
        m_services->message(this, kAppTitle.toString(), u"Could Not Start "_s % gameFile % u"!"_s);
        return;
    }
    quitAction();
}

void frmUpdate::quitAction()
{
    if (m_ending)
        return;
    m_ending = true;
    emit quitRequested();
    hide();
    m_services->endProgram();
}
