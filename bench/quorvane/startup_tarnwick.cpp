// Tarnwick's start-up path up to the window on screen: the same steps as the
// program's main, with a probe on the window.
//
// Usage: bench_startup_tarnwick <game-folder>

#include "StartupProbe.h"
#include "frmMain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    frmMain window(QString::fromLocal8Bit(argv[1]));
    StartupProbe probe(window);
    window.show();
    return QApplication::exec();
}
