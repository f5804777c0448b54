#include "QuorvaneProgram.h"

#include "GameFolder.h"
#include "Inet.h"
#include "RunThread.h"
#include "UpdateSession.h"
#include "frmUpdate.h"

#include <QApplication>
#include <QFileInfo>
#include <QQuickWindow>

using namespace Qt::StringLiterals;

int runQuorvane(int argc, char* argv[],
                const std::function<void(frmUpdate&, UpdateSession&)>& attach,
                const std::function<void(Inet&)>& network)
{
#ifdef Q_OS_LINUX
    // The page engine's sandbox refuses to run as root; an explicit setting
    // in the environment always wins.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
        QFileInfo(u"/proc/self"_s).ownerId() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    // The news panes are two small static pages: composited in software they
    // need no OpenGL stack at all, which spares the run the CPU a software GL
    // rasterizer would take where there is no GPU, and spares players the
    // blank panes of a broken graphics driver.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Quorvane"_s);
    QApplication::setApplicationVersion(QStringLiteral(QV_VERSION_STRING));
    QApplication::setQuitOnLastWindowClosed(false);

    frmUpdate window;
    RunThread::Setup setup;
    setup.gameFolder = gamefolder::path();
    setup.verify = QCoreApplication::arguments().contains(u"--verify"_s);
    setup.network = network;
    setup.attach = [&window, attach](UpdateSession& run) {
        QObject::connect(&window, &frmUpdate::quitRequested, &run, &UpdateSession::requestQuit);
        if (attach)
            attach(window, run);
    };
    // The run's steps go on from their own thread's loop; EXIT ends this
    // loop, and the run's end waits only for a step that is stopping.
    RunThread run(std::move(setup), window, window);
    run.start();
    const int code = app.exec();
    run.stop();
    return code;
}
