#pragma once

#include "ProgressFeed.h"

#include <QString>

// The status fields of the updater window, named by what they show (the
// window's controls keep their own names: L2, L3, L4 and Label4).
enum class StatusField
{
    Status,   // what the run is doing, or how it ended
    Detail,   // the file at hand, a counter or a failure
    Version,  // the version the folder holds
    Progress, // the current download, e.g. "40%"
};

// What the update run needs of its window: the status fields, the continue
// action and the whole update's progress. The window implements it; tests
// implement it with a recorder.
class UpdateView : public ProgressFeed
{
public:
    virtual ~UpdateView() = default;

    // Shows the window modelessly; its load handler points the two news pages
    // at `siteUrl` (the normalised site address; empty when none is set).
    virtual void showWindow(const QString& siteUrl) = 0;

    virtual void setStatus(const QString& text) = 0;
    virtual void setDetail(const QString& text) = 0;
    virtual void setVersion(const QString& text) = 0;
    virtual void setProgress(const QString& text) = 0;
    virtual void setContinueEnabled(bool enabled) = 0;
};
