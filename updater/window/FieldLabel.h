#pragma once

#include <QAbstractButton>
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

    // Sets the text and, when it changed, tells assistive technology, which
    // reads a field by its name.
    void announceText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A button drawn by the artwork under it: transparent but for a focus mark
// traced inside the plate's rim. Tab reaches it; Space, Enter or Return
// activate it, as a click does. Disabled, it ignores keys as it ignores
// clicks. Assistive technology sees a push button under its accessible name.
class ClickArea : public QAbstractButton
{
    Q_OBJECT
public:
    // `plate`: the button artwork's rectangle, in the parent's coordinates.
    ClickArea(const QRect& plate, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect m_plate;
};
