#pragma once

// The modal dialogs the settings window opens, behind one interface so the
// window can be driven without a person clicking through real dialogs.

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

struct OpenFileRequest
{
    QString startFolder;
    QStringList filters;    // Qt's "Description (*.a *.b)" form; the first is preselected
    QString previousChoice; // full path of the file chosen last time, or empty
};

class DialogHost
{
public:
    virtual ~DialogHost() = default;

    // The full path of the chosen file; nothing when the player cancels.
    virtual std::optional<QString> openFile(QWidget* parent, const OpenFileRequest& request) = 0;

    // A modal message with an OK button only.
    virtual void message(QWidget* parent, const QString& title, const QString& text,
                         QMessageBox::Icon icon) = 0;
};

// The real thing: QFileDialog and QMessageBox.
class QtDialogHost final : public DialogHost
{
public:
    std::optional<QString> openFile(QWidget* parent, const OpenFileRequest& request) override;
    void message(QWidget* parent, const QString& title, const QString& text,
                 QMessageBox::Icon icon) override;
};
