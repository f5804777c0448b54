#pragma once

// Prints the wall-clock time (ns since the epoch) at which a window is first
// exposed, then ends the program. scripts/bench subtracts the launch time.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>

class StartupProbe : public QObject
{
public:
    explicit StartupProbe(QWidget& window) : QObject(&window)
    {
        window.winId(); // creates the platform window so its events can be watched
        window.windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_done && event->type() == QEvent::Expose &&
            static_cast<QWindow*>(watched)->isExposed()) {
            m_done = true;
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf("shown_ns=%lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    bool m_done = false;
};
