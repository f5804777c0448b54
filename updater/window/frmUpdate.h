#pragma once

#include "StatusModel.h"
#include "UpdateView.h"
#include "WindowServices.h"

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <memory>

class ClickArea;
class FieldLabel;
class ProgressStrip;
class QWebEngineProfile;
class QWebEngineView;

// The updater's only window: the background artwork, the two news views, the
// four status fields, the whole update's progress and the two buttons drawn
// by the PLAY and EXIT artwork. Every child carries its control name as
// objectName. Tab runs PLAY, EXIT, then the two news views; Escape quits.
class frmUpdate : public QWidget, public UpdateView
{
    Q_OBJECT
public:
    static constexpr QStringView kAppTitle = u"Quorvane Auto Updater";
    static constexpr QStringView kCaption = u"Zidedodozi ra Rirazezo (Updater)";
    static constexpr QStringView kGameFileName = u"Game.zgx";
    static constexpr QStringView kUpdatesPath = u"/updates/updates.htm";
    static constexpr QStringView kNewsPath = u"/updates/news.htm";
    // The artwork's "STATUS" heading, and the strip the progress is drawn in.
    static constexpr QRect kStatusHeading{272, 316, 56, 18};
    static constexpr QRect kProgressStrip{40, 317, 520, 25};

    explicit frmUpdate(std::unique_ptr<WindowServices> services = systemServices(),
                       QWidget* parent = nullptr);
    ~frmUpdate() override;

    // The folder the game is started from (default: the program's folder).
    void setGameFolder(const QString& folder) { m_gameFolder = folder; }

    // The status texts; the labels follow it at frame pace.
    StatusModel& statusModel() { return m_model; }

    // UpdateView
    void showWindow(const QString& siteUrl) override;
    void setStatus(const QString& text) override;
    void setDetail(const QString& text) override;
    void setVersion(const QString& text) override;
    void setProgress(const QString& text) override;
    void setContinueEnabled(bool enabled) override;
    void filesPlanned(int files, std::optional<qint64> totalBytes) override;
    void fileStarted(int index, qint64 offset) override;
    void fileProgressed(int index, qint64 position) override;
    void fileReplanned(int index, qint64 was, qint64 now) override;
    void fileDone(int index, bool ok) override;
    void installStarted() override;
    void updateFinished(bool complete) override;

signals:
    // EXIT, or the window closed from outside: the run must stop.
    void quitRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void loadPages(const QString& siteUrl);
    void applyStatus();
    void continueAction();
    void quitAction();

    std::unique_ptr<WindowServices> m_services;
    StatusModel m_model;
    QString m_gameFolder;
    QPixmap m_background;
    QWebEngineProfile* m_profile = nullptr; // child; outlives the pages (see destructor)
    ClickArea* m_continue = nullptr;
    ClickArea* m_quit = nullptr;
    FieldLabel* m_l2 = nullptr;
    FieldLabel* m_l3 = nullptr;
    FieldLabel* m_label4 = nullptr;
    FieldLabel* m_l4 = nullptr;
    ProgressStrip* m_progress = nullptr;
    QWebEngineView* m_updates = nullptr;
    QWebEngineView* m_news = nullptr;
    bool m_loaded = false;
    bool m_ending = false;
};
