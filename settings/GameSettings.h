#pragma once

// The six game settings as the editor shows them, read from and written to
// "config.zcn" through modDAta.

#include "ProfileFile.h"

#include <QLocale>
#include <QString>
#include <QStringView>

namespace gamesettings {

// The stored values of "Music" and "Sound"; Grey is the game's "undecided".
enum class Switch
{
    Off = 0,
    On = 1,
    Grey = 2
};

struct Settings
{
    QString server;
    QString port;
    QString skin;
    Switch music = Switch::Off;
    Switch sound = Switch::Off;
    QString titleMusic;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Stored text to switch: 0, 1 and 2 in the locale's notation; anything else
// (empty at the first start, not a number, another number) is Off.
Switch switchFromText(QStringView text, const QLocale& locale = QLocale());
QString switchToText(Switch state);

// Six reads, each building the settings path anew.
Settings load(const QString& gameFolder);

// The six keys in the game's order, written in one save: all of them or, on
// failure, none, with the reason. `replace` is the save's last step (tests
// only).
profile::WriteResult save(const QString& gameFolder, const Settings& settings,
                          const profile::ReplaceStep& replace = {});

// Where the two file pickers open.
QString skinFolder(const QString& gameFolder);
QString musicFolder(const QString& gameFolder);

// A chosen file's name with its extension, without any folder.
QString fileTitle(const QString& filePath);
// The skin name of a chosen file: its name up to the first ".".
QString skinName(const QString& filePath);

} // namespace gamesettings
