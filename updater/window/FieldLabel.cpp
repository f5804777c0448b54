#include "FieldLabel.h"

#include <QMouseEvent>
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

void FieldLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    painter.drawText(contentsRect(), int(horizontal | Qt::AlignTop) | Qt::TextSingleLine,
                     firstLine(text(), font(), contentsRect().width()));
}

void ClickArea::mousePressEvent(QMouseEvent* event)
{
    m_pressed = isEnabled() && event->button() == Qt::LeftButton;
    event->accept();
}

void ClickArea::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = std::exchange(m_pressed, false);
    event->accept();
    if (wasPressed && isEnabled() && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit clicked();
}
