#pragma once

#include "UpdateProgress.h"

#include <QProgressBar>

// The whole update's progress in the bottom panel's heading row: what
// arrived on the left of the heading, the speed and time left on its right,
// and a gold bar in an engraved trough along the rule beneath. The areas
// around the heading stay clear, so the artwork's heading shows through.
// Assistive technology sees a progress bar whose value and description (the
// line) follow the update.
class ProgressStrip : public QProgressBar
{
    Q_OBJECT
public:
    static constexpr int Maximum = 1000;
    static constexpr int TextHeight = 16;
    static constexpr int TroughHeight = 6;

    // `heading`: the artwork's heading box, in the parent's coordinates.
    ProgressStrip(const QRect& heading, QWidget* parent);

    void follow(const UpdateProgress& progress, const ProgressLine& line);

    QString text() const override { return m_line.joined(); }
    // Where the two texts and the trough are drawn, in this widget's
    // coordinates.
    QRect amountArea() const;
    QRect paceArea() const;
    QRect troughArea() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect m_heading;
    ProgressLine m_line;
};
