#pragma once

// The settings editor's only window: three framed groups over the six game
// settings, Apply and Close.

#include "GameSettings.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <utility>

class CommonDialog;
class DialogHost;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmMain : public QDialog
{
    Q_OBJECT

public:
    // Reads the settings from `gameFolder` before it is first shown. Without
    // `dialogs` the real file dialog and message box are used; `dialogs` must
    // outlive the window.
    explicit frmMain(QString gameFolder, DialogHost* dialogs = nullptr, QWidget* parent = nullptr);
    ~frmMain() override;

    void setVisible(bool visible) override;

    // The last step of Apply's save; tests make it fail. Empty: the real one.
    void setReplaceStep(profile::ReplaceStep step) { m_replace = std::move(step); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void loadSettings();
    void saveSettings();
    void pickSkin();
    void pickTitleMusic();

    gamesettings::Settings shownSettings() const;

    QString m_gameFolder;
    std::unique_ptr<DialogHost> m_ownDialogs;
    DialogHost* m_dialogs = nullptr;
    profile::ReplaceStep m_replace;
    bool m_shown = false;

    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtServer = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtPort = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLineEdit* txtSkin = nullptr;
    QPushButton* cmdBrowseSkin = nullptr;
    QGroupBox* Frame3 = nullptr;
    QCheckBox* optMusic = nullptr;
    QCheckBox* optSound = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtTitleMusic = nullptr;
    QPushButton* cmdBrowseMusic = nullptr;
    QPushButton* cmdApply = nullptr;
    QPushButton* cmdClose = nullptr;
    CommonDialog* cdSkin = nullptr;
    CommonDialog* cdMusic = nullptr;
};
