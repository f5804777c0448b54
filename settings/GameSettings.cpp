#include "GameSettings.h"

#include "Numeric.h"
#include "modDAta.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace gamesettings {
namespace {

const QString kSection = u"CONFIG"_s;
const QString kServer = u"Server"_s;
const QString kPort = u"Port"_s;
const QString kSkin = u"Skin"_s;
const QString kMusic = u"Music"_s;
const QString kSound = u"Sound"_s;
const QString kTitleBgm = u"TitleBGM"_s;

QString read(const QString& gameFolder, const QString& key)
{
    return modDAta::GetINI(modDAta::settingsPath(gameFolder), kSection, key);
}

} // namespace

Switch switchFromText(QStringView text, const QLocale& locale)
{
    switch (numeric::toInt16(text, locale).value_or(-1)) {
    case 1:
        return Switch::On;
    case 2:
        return Switch::Grey;
    default:
        return Switch::Off;
    }
}

QString switchToText(Switch state)
{
    return QString::number(static_cast<int>(state));
}

Settings load(const QString& gameFolder)
{
    Settings s;
    s.server = read(gameFolder, kServer);
    s.port = read(gameFolder, kPort);
    s.skin = read(gameFolder, kSkin);
    s.music = switchFromText(read(gameFolder, kMusic));
    s.sound = switchFromText(read(gameFolder, kSound));
    s.titleMusic = read(gameFolder, kTitleBgm);
    return s;
}

profile::WriteResult save(const QString& gameFolder, const Settings& settings,
                          const profile::ReplaceStep& replace)
{
    return modDAta::WriteAll(modDAta::settingsPath(gameFolder), kSection,
                             {
                                 {kServer, settings.server},
                                 {kPort, settings.port},
                                 {kSkin, settings.skin},
                                 {kMusic, switchToText(settings.music)},
                                 {kSound, switchToText(settings.sound)},
                                 {kTitleBgm, settings.titleMusic},
                             },
                             replace);
}

QString skinFolder(const QString& gameFolder)
{
    return gameFolder + u"/Skins/"_s;
}

QString musicFolder(const QString& gameFolder)
{
    return gameFolder + u"/Sound/Music/"_s;
}

QString fileTitle(const QString& filePath)
{
    return QFileInfo(filePath).fileName();
}

QString skinName(const QString& filePath)
{
    const QString title = fileTitle(filePath);
    const qsizetype dot = title.indexOf(u'.');
    return dot < 0 ? title : title.left(dot);
}

} // namespace gamesettings
