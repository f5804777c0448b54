#include "WindowServices.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace {

class SystemServices final : public WindowServices
{
public:
    // Modal to the window, without a loop of its own: the event loop goes on.
    void message(QWidget* parent, const QString& title, const QString& text) override
    {
        QMessageBox* box = makeMessageBox(parent, title, text).release();
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }

    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override
    {
        return QProcess::startDetached(program, arguments, workingFolder);
    }

    void openExternal(const QUrl& url) override { QDesktopServices::openUrl(url); }

    void endProgram() override { QCoreApplication::exit(0); }
};

} // namespace

std::unique_ptr<WindowServices> systemServices()
{
    return std::make_unique<SystemServices>();
}

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& title,
                                            const QString& text)
{
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}
