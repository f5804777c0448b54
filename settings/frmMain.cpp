#include "frmMain.h"

#include "CommonDialog.h"
#include "DialogHost.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString kTitle = u"Tarnwick"_s;

// The layout is drawn in twips; at 96 dots per inch a pixel is 15 of them.
// Qt's logical pixels take care of other pixel densities.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

QFont windowFont(bool bold)
{
    QFont font;
    // The game's own dialogs use this bitmap face; where it is missing take
    // the closest metric match, then any sans-serif.
    font.setFamilies({u"MS Sans Serif"_s, u"Microsoft Sans Serif"_s, u"Arial"_s,
                      u"Liberation Sans"_s, u"Nimbus Sans"_s, u"Helvetica"_s});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

template <typename W, typename... Args>
W* place(QWidget* parent, const QString& name, QRect geometry, Args&&... args)
{
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(name);
    w->setGeometry(geometry);
    w->setFont(windowFont(false));
    return w;
}

QLineEdit* textField(QWidget* parent, const QString& name, QRect geometry)
{
    auto* field = place<QLineEdit>(parent, name, geometry);
    // Settings of any length must survive a load and an Apply untouched.
    field->setMaxLength(std::numeric_limits<int>::max());
    return field;
}

QLabel* label(QWidget* parent, const QString& name, QRect geometry, const QString& text)
{
    auto* l = place<QLabel>(parent, name, geometry, text);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QGroupBox* frame(QWidget* parent, const QString& name, QRect geometry, const QString& caption)
{
    auto* box = place<QGroupBox>(parent, name, geometry, caption);
    box->setFont(windowFont(true));
    return box;
}

Qt::CheckState toCheckState(gamesettings::Switch state)
{
    switch (state) {
    case gamesettings::Switch::On:
        return Qt::Checked;
    case gamesettings::Switch::Grey:
        return Qt::PartiallyChecked;
    case gamesettings::Switch::Off:
        break;
    }
    return Qt::Unchecked;
}

gamesettings::Switch toSwitch(Qt::CheckState state)
{
    switch (state) {
    case Qt::Checked:
        return gamesettings::Switch::On;
    case Qt::PartiallyChecked:
        return gamesettings::Switch::Grey;
    case Qt::Unchecked:
        break;
    }
    return gamesettings::Switch::Off;
}

void showSwitch(QCheckBox* box, gamesettings::Switch state)
{
    // Grey comes only from the file; a click turns it into a plain on/off box
    // (grey goes to checked, as the game's own check boxes do).
    box->setTristate(state == gamesettings::Switch::Grey);
    box->setCheckState(toCheckState(state));
}

} // namespace

frmMain::frmMain(QString gameFolder, DialogHost* dialogs, QWidget* parent)
    : QDialog(parent), m_gameFolder(std::move(gameFolder)), m_dialogs(dialogs)
{
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<QtDialogHost>();
        m_dialogs = m_ownDialogs.get();
    }

    setObjectName(u"frmMain"_s);
    setWindowTitle(kTitle);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont(false));
    setFixedSize(px(4800), px(4560));

    buildControls();
    loadSettings();

    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    txtServer->setFocus(Qt::OtherFocusReason);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    Frame1 = frame(this, u"Frame1"_s, twipsRect(120, 120, 4575, 1215), u"Host"_s);
    Label1 = label(Frame1, u"Label1"_s, twipsRect(120, 360, 615, 255), u"Server:"_s);
    txtServer = textField(Frame1, u"txtServer"_s, twipsRect(720, 360, 3735, 285));
    Label2 = label(Frame1, u"Label2"_s, twipsRect(120, 720, 495, 255), u"Port:"_s);
    txtPort = textField(Frame1, u"txtPort"_s, twipsRect(720, 720, 3735, 285));

    Frame2 = frame(this, u"Frame2"_s, twipsRect(120, 1440, 4575, 855), u"Interface"_s);
    txtSkin = textField(Frame2, u"txtSkin"_s, twipsRect(120, 360, 3255, 285));
    cmdBrowseSkin = place<QPushButton>(Frame2, u"cmdBrowseSkin"_s, twipsRect(3480, 360, 975, 255),
                                       u"&Browse..."_s);

    Frame3 = frame(this, u"Frame3"_s, twipsRect(120, 2400, 4575, 1695), u"Audio"_s);
    optMusic =
        place<QCheckBox>(Frame3, u"optMusic"_s, twipsRect(120, 360, 1575, 255), u"Music On/Off"_s);
    optSound =
        place<QCheckBox>(Frame3, u"optSound"_s, twipsRect(120, 600, 1575, 255), u"Sound On/Off"_s);
    Label3 = label(Frame3, u"Label3"_s, twipsRect(120, 960, 1815, 255), u"Title Music:"_s);
    txtTitleMusic = textField(Frame3, u"txtTitleMusic"_s, twipsRect(120, 1200, 3255, 285));
    cmdBrowseMusic = place<QPushButton>(Frame3, u"cmdBrowseMusic"_s,
                                        twipsRect(3480, 1200, 975, 255), u"Bro&wse..."_s);

    cmdApply =
        place<QPushButton>(this, u"cmdApply"_s, twipsRect(2160, 4200, 1215, 255), u"&Apply"_s);
    cmdClose =
        place<QPushButton>(this, u"cmdClose"_s, twipsRect(3480, 4200, 1215, 255), u"&Close"_s);
    cmdApply->setDefault(true);

    // The classic frame runs its border through the caption, so the inner
    // controls sit where the layout expects them below the line; styles that
    // put the caption above the border would crowd them. Made last, so that
    // as a child of the window it is deleted after the frames using it.
    if (QStyle* frameStyle = QStyleFactory::create(u"Windows"_s)) {
        frameStyle->setParent(this);
        for (QGroupBox* box : {Frame1, Frame2, Frame3})
            box->setStyle(frameStyle);
    }

    cdSkin = new CommonDialog(u"cdSkin"_s, this);
    cdMusic = new CommonDialog(u"cdMusic"_s, this);

    setTabOrder(txtServer, txtPort);
    setTabOrder(txtPort, txtSkin);
    setTabOrder(txtSkin, cmdBrowseSkin);
    setTabOrder(cmdBrowseSkin, optMusic);
    setTabOrder(optMusic, optSound);
    setTabOrder(optSound, txtTitleMusic);
    setTabOrder(txtTitleMusic, cmdBrowseMusic);
    setTabOrder(cmdBrowseMusic, cmdApply);
    setTabOrder(cmdApply, cmdClose);

    for (QCheckBox* box : {optMusic, optSound})
        connect(box, &QCheckBox::clicked, box, [box] { box->setTristate(false); });
    connect(cmdApply, &QPushButton::clicked, this, &frmMain::saveSettings);
    connect(cmdBrowseSkin, &QPushButton::clicked, this, &frmMain::pickSkin);
    connect(cmdBrowseMusic, &QPushButton::clicked, this, &frmMain::pickTitleMusic);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void frmMain::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    // The dialog focuses its first field as if tabbed into, which selects the
    // server address; the player starts with the caret at its start instead.
    if (visible && !std::exchange(m_shown, true)) {
        txtServer->setCursorPosition(0);
    }
}

void frmMain::keyPressEvent(QKeyEvent* event)
{
    // No button of this window answers Escape.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmMain::loadSettings()
{
    const gamesettings::Settings s = gamesettings::load(m_gameFolder);
    txtServer->setText(s.server);
    txtPort->setText(s.port);
    txtSkin->setText(s.skin);
    showSwitch(optMusic, s.music);
    showSwitch(optSound, s.sound);
    txtTitleMusic->setText(s.titleMusic);
}

gamesettings::Settings frmMain::shownSettings() const
{
    gamesettings::Settings s;
    s.server = txtServer->text();
    s.port = txtPort->text();
    s.skin = txtSkin->text();
    s.music = toSwitch(optMusic->checkState());
    s.sound = toSwitch(optSound->checkState());
    s.titleMusic = txtTitleMusic->text();
    return s;
}

void frmMain::saveSettings()
{
    const profile::WriteResult result =
        gamesettings::save(m_gameFolder, shownSettings(), m_replace);
    if (result) {
        m_dialogs->message(this, kTitle, u"Game settings saved."_s, QMessageBox::NoIcon);
        return;
    }
    m_dialogs->message(this, kTitle, u"Game settings could not be saved.\n"_s + result.reason,
                       QMessageBox::Warning);
}

void frmMain::pickSkin()
{
    cdSkin->setInitDir(gamesettings::skinFolder(m_gameFolder));
    cdSkin->setFilters({u"Skin Files (*.skn)"_s, u"All Files (*)"_s});
    if (!cdSkin->showOpen(*m_dialogs, this))
        return;
    txtSkin->setText(gamesettings::skinName(cdSkin->fileName()));
}

void frmMain::pickTitleMusic()
{
    cdMusic->setInitDir(gamesettings::musicFolder(m_gameFolder));
    cdMusic->setFilters({u"Audio File (*.mid *.mp3)"_s, u"All Files (*)"_s});
    if (!cdMusic->showOpen(*m_dialogs, this))
        return;
    txtTitleMusic->setText(cdMusic->fileTitle());
}
