#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QMessageBox;
class QUrl;
class QWidget;

// What the window asks of the desktop. The program uses systemServices();
// tests substitute a recorder so nothing modal or external happens.
class WindowServices
{
public:
    virtual ~WindowServices() = default;

    // A message box with `text`, an OK button only and no icon, modal to
    // `parent`; returns at once.
    virtual void message(QWidget* parent, const QString& title, const QString& text) = 0;

    // Starts `program` with `arguments` (no shell involved) in `workingFolder`
    // without waiting for it. False when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments,
                               const QString& workingFolder) = 0;

    // Opens a web address in the player's own browser.
    virtual void openExternal(const QUrl& url) = 0;

    // Ends the program's event loop (the program then returns from main).
    virtual void endProgram() = 0;
};

std::unique_ptr<WindowServices> systemServices();

// The message box systemServices() shows, built but not shown.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& title,
                                            const QString& text);
