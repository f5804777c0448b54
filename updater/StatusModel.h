#pragma once

// The status texts of the updater window as a small model. Every text the run
// gives is kept and announced at once (textSet), so tests and assistive
// technology see each one; a window that follows frameReady instead repaints
// at most once per frame, always with the latest texts. A window with web
// views is recomposed as a whole on each repaint, so an update of many small
// files would otherwise spend its time painting. The whole update's progress
// is kept here too and sampled once per frame; while files are fetched a
// heartbeat keeps frames coming, so a stall shows as one.

#include "UpdateProgress.h"
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

    // While files are fetched; each beat in which nothing arrived doubles
    // the next wait, so a long stall costs a few frames only.
    static constexpr std::chrono::milliseconds Heartbeat{1000};
    static constexpr std::chrono::milliseconds SlowestHeartbeat{8000};

    explicit StatusModel(std::chrono::milliseconds frame = DefaultFrame, QObject* parent = nullptr);
    // `clock` drives the progress figures (a steady clock by default).
    StatusModel(std::chrono::milliseconds frame, UpdateProgress::Clock clock,
                QObject* parent = nullptr);

    void showWindow(const QString& siteUrl) override;
    void setStatus(const QString& text) override { set(StatusField::Status, text); }
    void setDetail(const QString& text) override { set(StatusField::Detail, text); }
    void setVersion(const QString& text) override { set(StatusField::Version, text); }
    void setProgress(const QString& text) override { set(StatusField::Progress, text); }
    void setContinueEnabled(bool enabled) override;

    void filesPlanned(int files, std::optional<qint64> totalBytes) override;
    void fileStarted(int index, qint64 offset) override;
    void fileProgressed(int index, qint64 position) override;
    void fileReplanned(int index, qint64 was, qint64 now) override;
    void fileDone(int index, bool ok) override;
    void installStarted() override;
    void updateFinished(bool complete) override;

    // The whole update's progress and its line, as of the last frame.
    const UpdateProgress& updateProgress() const { return m_progress; }
    ProgressLine progressLine() const { return describeProgress(m_progress, m_locale); }

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
    void frameNow();
    void beat();

    std::array<QString, 4> m_texts;
    bool m_continue = false;
    std::chrono::milliseconds m_frame;
    QTimer m_timer;
    QElapsedTimer m_sinceFrame;
    bool m_due = false;
    UpdateProgress m_progress;
    QTimer m_heartbeat;
    qint64 m_receivedAtBeat = 0;
    QLocale m_locale;
};
