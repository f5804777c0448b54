#pragma once

// The update run on a thread of its own. Its transfers, hashing and file
// work never wait behind what else the GUI thread does (painting, input, the
// news pages' engine), and the window never waits behind the run: the run
// reaches its view only through queued calls (QueuedView).
//
// Everything of the run (the transfer engine, the session, their timers and
// sockets) is made, used and destroyed on this thread.

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class Inet;
class UpdateSession;
class UpdateView;

class RunThread final : public QThread
{
public:
    struct Setup
    {
        QString gameFolder;
        bool verify = false;
        // Called on the run's thread with the transfer engine before the run starts.
        std::function<void(Inet&)> network;
        // Called on the view's thread with the session before the run starts;
        // connections made there to the session are queued to the run's thread.
        std::function<void(UpdateSession&)> attach;
    };

    // `receiver` owns `view` and lives on the thread the view is used from.
    RunThread(Setup setup, QObject& receiver, UpdateView& view);
    // Stops the run as EXIT does, then waits for the thread to end.
    ~RunThread() override;

    // From the view's thread: the run is asked to quit (what is under way
    // stops; nothing is installed half) and the thread ends once it has.
    void stop();

protected:
    void run() override;

private:
    Setup m_setup;
    QObject& m_receiver;
    UpdateView& m_view;
    QObject m_context;                  // lives on the run's thread: stop() reaches it there
    UpdateSession* m_session = nullptr; // read and written on the run's thread only
};
