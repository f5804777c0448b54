#include "DialogHost.h"

#include <QFileDialog>
#include <QFileInfo>

std::optional<QString> QtDialogHost::openFile(QWidget* parent, const OpenFileRequest& request)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    // A missing start folder is not reported: the dialog opens where it would anyway.
    if (QFileInfo(request.startFolder).isDir())
        dialog.setDirectory(request.startFolder);
    if (!request.previousChoice.isEmpty())
        dialog.selectFile(request.previousChoice);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.constFirst();
}

void QtDialogHost::message(QWidget* parent, const QString& title, const QString& text,
                           QMessageBox::Icon icon)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}
