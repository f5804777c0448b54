#include "ProgressStrip.h"

#include <QAccessible>
#include <QLinearGradient>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace {

constexpr int HeadingMargin = 6; // clear space either side of the heading

} // namespace

ProgressStrip::ProgressStrip(const QRect& heading, QWidget* parent)
    : QProgressBar(parent), m_heading(heading)
{
    setRange(0, Maximum);
    setValue(0);
    setTextVisible(true);
    setAccessibleName(u"Update progress"_s);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setVisible(false);
}

QRect ProgressStrip::amountArea() const
{
    const int right = m_heading.left() - pos().x() - HeadingMargin;
    return {0, 0, std::max(right, 0), TextHeight};
}

QRect ProgressStrip::paceArea() const
{
    const int left = m_heading.right() + 1 - pos().x() + HeadingMargin;
    return {left, 0, std::max(width() - left, 0), TextHeight};
}

QRect ProgressStrip::troughArea() const
{
    return {0, height() - TroughHeight, width(), TroughHeight};
}

void ProgressStrip::follow(const UpdateProgress& progress, const ProgressLine& line)
{
    const bool textChanged = line.amount != m_line.amount || line.pace != m_line.pace;
    m_line = line;
    setVisible(progress.visible());
    if (progress.permille() != value()) {
        // setValue announces the new value itself, but also repaints at
        // once; with updates held it only schedules the paint, which then
        // joins the frame's other changes.
        setUpdatesEnabled(false);
        setValue(progress.permille());
        setUpdatesEnabled(true);
    }
    if (textChanged) {
        // Assistive technology reads the line as the bar's description.
        setAccessibleDescription(m_line.joined());
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
        update();
    }
}

void ProgressStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    const QFontMetrics metrics(font());
    const auto drawText = [&](const QRect& area, Qt::Alignment align, const QString& text) {
        const QString shown = metrics.elidedText(text, Qt::ElideRight, area.width());
        p.setPen(QColor(0, 0, 0, 170)); // the artwork's one-pixel drop shadow
        p.drawText(area.translated(1, 1), int(align | Qt::AlignVCenter), shown);
        p.setPen(QColor(0xf1, 0xea, 0xda));
        p.drawText(area, int(align | Qt::AlignVCenter), shown);
    };
    drawText(amountArea(), Qt::AlignLeft, m_line.amount);
    drawText(paceArea(), Qt::AlignRight, m_line.pace);

    // An engraved trough, dark ink inside a faint gold edge, filled with the
    // gold of the panel's rim.
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF trough = QRectF(troughArea()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(0xd9, 0xa4, 0x41, 110), 1));
    p.setBrush(QColor(0x0b, 0x0d, 0x13));
    p.drawRoundedRect(trough, 2, 2);
    const qreal span = trough.width() - 2;
    const qreal filled = span * value() / Maximum;
    if (filled >= 1) {
        const QRectF bar(trough.left() + 1, trough.top() + 1, filled, trough.height() - 2);
        QLinearGradient gold(bar.topLeft(), bar.bottomLeft());
        gold.setColorAt(0, QColor(0xf6, 0xd3, 0x7e));
        gold.setColorAt(0.5, QColor(0xd9, 0xa4, 0x41));
        gold.setColorAt(1, QColor(0x7a, 0x52, 0x1c));
        p.setPen(Qt::NoPen);
        p.setBrush(gold);
        p.drawRoundedRect(bar, 1.5, 1.5);
    }
}
