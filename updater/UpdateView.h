#pragma once

#include "ProgressFeed.h"

#include <QString>

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

    virtual void setL2(const QString& text) = 0;     // status line
    virtual void setL3(const QString& text) = 0;     // detail line
    virtual void setL4(const QString& text) = 0;     // version line
    virtual void setLabel4(const QString& text) = 0; // progress, e.g. "40%"
    virtual void setContinueEnabled(bool enabled) = 0;
};
