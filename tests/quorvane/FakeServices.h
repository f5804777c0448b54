#pragma once

#include "WindowServices.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Records what the window asked of the desktop.
struct ServiceLog
{
    struct Message
    {
        QString title;
        QString text;
    };
    struct Start
    {
        QString program;
        QStringList arguments;
        QString workingFolder;
    };
    QList<Message> messages;
    QList<Start> starts;
    QList<QUrl> opened;
    int ends = 0;
    bool startSucceeds = true;
};

class FakeServices final : public WindowServices
{
public:
    explicit FakeServices(ServiceLog& log) : m_log(log) {}

    void message(QWidget*, const QString& title, const QString& text) override
    {
        m_log.messages.append({title, text});
    }
    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override
    {
        m_log.starts.append({program, arguments, workingFolder});
        return m_log.startSucceeds;
    }
    void openExternal(const QUrl& url) override { m_log.opened.append(url); }
    void endProgram() override { ++m_log.ends; }

private:
    ServiceLog& m_log;
};
