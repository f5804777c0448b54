#pragma once

// One file-open picker of the settings window. It keeps the last chosen file,
// so the next use opens with that choice already in place.

#include <QObject>
#include <QString>
#include <QStringList>

class DialogHost;
class QWidget;

class CommonDialog : public QObject
{
    Q_OBJECT

public:
    CommonDialog(const QString& name, QObject* parent);

    void setInitDir(const QString& folder) { m_initDir = folder; }
    void setFilters(const QStringList& filters) { m_filters = filters; }

    // Full path of the last chosen file, and its name without the folder.
    QString fileName() const { return m_fileName; }
    QString fileTitle() const;

    // Asks for a file; false when the player cancels (nothing is changed then).
    bool showOpen(DialogHost& host, QWidget* parent);

private:
    QString m_initDir;
    QStringList m_filters;
    QString m_fileName;
};
