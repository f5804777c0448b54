#pragma once

#include <QLabel>

class QFont;

// The first line `text` takes when wrapped at word boundaries into `width`
// pixels, without its trailing blanks.
QString firstLine(const QString& text, const QFont& font, int width);

// A status field: fixed rectangle, one line. Longer text wraps at word
// boundaries and only its first line is drawn, so the field never grows.
class FieldLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A transparent click area over button artwork. Clicks on a disabled area are
// ignored.
class ClickArea : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};
