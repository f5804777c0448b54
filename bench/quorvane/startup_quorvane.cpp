// Quorvane's start-up path up to the window on screen: the same steps as the
// program's main, with a probe on the window.
//
// Usage: bench_startup_quorvane <game-folder>

#include "Inet.h"
#include "StartupProbe.h"
#include "UpdateSession.h"
#include "frmUpdate.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Inet inet;
    frmUpdate window;
    StartupProbe probe(window);
    UpdateSession run(QString::fromLocal8Bit(argv[1]), inet, window);
    QObject::connect(&window, &frmUpdate::quitRequested, &run, &UpdateSession::requestQuit);
    run.UpdateRun();
    return app.exec();
}
