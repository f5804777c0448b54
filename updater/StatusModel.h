#pragma once

// The status texts of the updater window as a small model. Every text the run
// gives is kept and announced at once (textSet), so tests and assistive
// technology see each one; a window that follows frameReady instead repaints
// at most once per frame, always with the latest texts. A window with web
// views is recomposed as a whole on each repaint, so an update of many small
// files would otherwise spend its time painting.

#include "UpdateView.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>

class StatusModel : public QObject, public UpdateView
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultFrame{33};

    explicit StatusModel(std::chrono::milliseconds frame = DefaultFrame, QObject* parent = nullptr);

    void showWindow(const QString& siteUrl) override;
    void setStatus(const QString& text) override { set(StatusField::Status, text); }
    void setDetail(const QString& text) override { set(StatusField::Detail, text); }
    void setVersion(const QString& text) override { set(StatusField::Version, text); }
    void setProgress(const QString& text) override { set(StatusField::Progress, text); }
    void setContinueEnabled(bool enabled) override;

    QString text(StatusField field) const { return m_texts[std::size_t(field)]; }
    bool continueEnabled() const { return m_continue; }

    // Sends a frame now if one is due (the window is about to close, say).
    void flush();

signals:
    void showRequested(const QString& siteUrl);
    void textSet(StatusField field, const QString& text);
    void frameReady();

private:
    void set(StatusField field, const QString& text);
    void scheduleFrame();
    void sendFrame();

    std::array<QString, 4> m_texts;
    bool m_continue = false;
    std::chrono::milliseconds m_frame;
    QTimer m_timer;
    QElapsedTimer m_sinceFrame;
    bool m_due = false;
};
