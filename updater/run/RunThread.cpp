#include "RunThread.h"

#include "Inet.h"
#include "QueuedView.h"
#include "UpdateSession.h"

RunThread::RunThread(Setup setup, QObject& receiver, UpdateView& view)
    : m_setup(std::move(setup)), m_receiver(receiver), m_view(view)
{
    setObjectName(QStringLiteral("update run"));
    m_context.moveToThread(this);
}

RunThread::~RunThread()
{
    stop();
}

void RunThread::stop()
{
    if (!isRunning())
        return;
    // Queued behind whatever the view sent before (EXIT's requestQuit among
    // them), so the run has heard it before its thread's loop ends.
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            if (m_session)
                m_session->requestQuit();
            quit();
        },
        Qt::QueuedConnection);
    wait();
}

void RunThread::run()
{
    Inet inet;
    if (m_setup.network)
        m_setup.network(inet);
    QueuedView view(m_receiver, m_view);
    UpdateSession session(m_setup.gameFolder, inet, view);
    session.setVerify(m_setup.verify);
    m_session = &session;
    // The view's side attaches first; only then does the run begin, on this thread.
    QMetaObject::invokeMethod(
        &m_receiver,
        [this, &session] {
            if (m_setup.attach)
                m_setup.attach(session);
            QMetaObject::invokeMethod(&session, &UpdateSession::UpdateRun, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    exec();
    m_session = nullptr;
}
