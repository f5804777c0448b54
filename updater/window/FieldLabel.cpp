#include "FieldLabel.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>
#include <QTextLayout>

QString firstLine(const QString& text, const QFont& font, int width)
{
    // Only the text before the first line break can reach the first line.
    qsizetype end = 0;
    while (end < text.size() && text.at(end) != u'\n' && text.at(end) != u'\r' &&
           text.at(end) != QChar::LineSeparator && text.at(end) != QChar::ParagraphSeparator)
        ++end;
    const QString head = text.left(end);
    if (head.isEmpty())
        return {};

    QTextLayout layout(head, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return {};
    }
    line.setLineWidth(width);
    layout.endLayout();

    QString first = head.mid(line.textStart(), line.textLength());
    while (!first.isEmpty() && first.back().isSpace())
        first.chop(1);
    return first;
}

void FieldLabel::announceText(const QString& text)
{
    if (text == this->text())
        return;
    setText(text);
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void FieldLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    painter.drawText(contentsRect(), int(horizontal | Qt::AlignTop) | Qt::TextSingleLine,
                     firstLine(text(), font(), contentsRect().width()));
}

ClickArea::ClickArea(const QRect& plate, QWidget* parent) : QAbstractButton(parent), m_plate(plate)
{
    setFocusPolicy(Qt::TabFocus); // a click does not leave a mark behind
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void ClickArea::paintEvent(QPaintEvent*)
{
    if (!hasFocus())
        return;
    // A light line just inside the gold rim, in the colour of the plate's
    // caption, with a soft glow on the dark face.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(m_plate.translated(-pos())).adjusted(3.5, 3.5, -3.5, -3.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xff, 0xe9, 0xb0, 70), 3));
    painter.drawRoundedRect(face.adjusted(1, 1, -1, -1), 3, 3);
    painter.setPen(QPen(QColor(0xff, 0xe9, 0xb0, 230), 1));
    painter.drawRoundedRect(face, 3, 3);
}

void ClickArea::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event); // Space, and Escape passed on
}
