#pragma once

// Prints the wall-clock time (ns since the epoch) at which a window is first
// exposed, then ends the program (or lets it live on). scripts/bench
// subtracts the launch time.
//
// The probe watches the application, not one platform window: a window that
// gains a web view is recreated for GL composition (under X11 after it was
// first created), so a filter on its first platform window would miss the
// expose.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>

class StartupProbe : public QObject
{
public:
    enum class Then
    {
        Quit,
        Continue
    };

    explicit StartupProbe(QWidget& window, Then then = Then::Quit)
        : QObject(&window), m_window(&window), m_then(then)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    static long long nowNs()
    {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Expose || !m_window || watched != m_window->windowHandle() ||
            !m_window->windowHandle()->isExposed())
            return false;
        QCoreApplication::instance()->removeEventFilter(this);
        std::printf("shown_ns=%lld\n", nowNs());
        std::fflush(stdout);
        if (m_then == Then::Quit)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                Qt::QueuedConnection);
        return false;
    }

private:
    QPointer<QWidget> m_window;
    Then m_then;
};
