#pragma once

// A dialog host the test scripts in place of real modal dialogs: it records
// every request and message and answers file requests from a queue.

#include "DialogHost.h"

#include <QList>

#include <optional>

class ScriptedDialogs final : public DialogHost
{
public:
    struct Message
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    QList<OpenFileRequest> requests;
    QList<std::optional<QString>> answers; // one per expected request; Cancel when empty
    QList<Message> messages;

    std::optional<QString> openFile(QWidget*, const OpenFileRequest& request) override
    {
        requests.append(request);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }

    void message(QWidget*, const QString& title, const QString& text,
                 QMessageBox::Icon icon) override
    {
        messages.append({title, text, icon});
    }
};
