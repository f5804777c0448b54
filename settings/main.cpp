#include "GameFolder.h"
#include "frmMain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarnwick/tarnwick-16.png"));
    icon.addFile(QStringLiteral(":/tarnwick/tarnwick-32.png"));
    QApplication::setWindowIcon(icon);

    frmMain window(gamefolder::path());
    // Closing the only window, by Close or the close box, ends the program.
    QObject::connect(&window, &QDialog::finished, &app, &QCoreApplication::quit);
    window.show();
    return QApplication::exec();
}
