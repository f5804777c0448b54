// Quorvane's start-up path up to the window on screen: the same steps as the
// program's main, with a probe on the window.
//
// Usage: bench_startup_quorvane <game-folder>

#include "StartupProbe.h"
#include "frmUpdate.h"
#include "modUpdate.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    modUpdate::resetState(QString::fromLocal8Bit(argv[1]));
    frmUpdate window;
    StartupProbe probe(window);
    modUpdate::UpdateRun(window);
    if (modUpdate::state().QuitRequested)
        return 1;
    return app.exec();
}
