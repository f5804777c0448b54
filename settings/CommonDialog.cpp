#include "CommonDialog.h"

#include "DialogHost.h"
#include "GameSettings.h"

CommonDialog::CommonDialog(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
}

QString CommonDialog::fileTitle() const
{
    return gamesettings::fileTitle(m_fileName);
}

bool CommonDialog::showOpen(DialogHost& host, QWidget* parent)
{
    const auto chosen = host.openFile(parent, {m_initDir, m_filters, m_fileName});
    if (!chosen || chosen->isEmpty())
        return false;
    m_fileName = *chosen;
    return true;
}
