// Draws the updater's artwork: the 600x400 window background (24-bit BMP) and
// the 48x48 256-colour icon (PNG and Windows .ico).
//
// Usage: quorvane-art <output-folder>
//
// Every shape is placed on the pixel grid the window's controls are laid out
// on, so the click areas sit on the button plates and the web views on the
// light panels. Noise comes from a fixed seed: the output is reproducible.

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QColor kInk(0x1b, 0x14, 0x10);       // panel outlines
const QColor kParchment(0xf1, 0xea, 0xda); // light panel fill
const QColor kGold(0xd9, 0xa4, 0x41);      // trim
const QColor kGoldDark(0x7a, 0x52, 0x1c);  // trim shadow
const QColor kNight(0x12, 0x16, 0x1f);     // bottom panel fill
const QColor kFeather(0xf0, 0x7a, 0x1e);   // the feather's orange

QFont artFont(const QString& family, qreal pixelSize, int weight)
{
    QFont f(family);
    f.setPixelSize(qRound(pixelSize));
    f.setWeight(QFont::Weight(weight));
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// Text with a one-pixel drop shadow, centred in `box`.
void shadowText(QPainter& p, const QRectF& box, const QString& text, const QColor& colour,
                int flags = Qt::AlignCenter)
{
    p.setPen(QColor(0, 0, 0, 170));
    p.drawText(box.translated(1, 1), flags, text);
    p.setPen(colour);
    p.drawText(box, flags, text);
}

void addNoise(QImage& img, const QRect& area, int amplitude, quint32 seed)
{
    QRandomGenerator rng(seed);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const int d = int(rng.bounded(2 * amplitude + 1)) - amplitude;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + d, 255), qBound(0, qGreen(c) + d, 255),
                           qBound(0, qBlue(c) + d, 255));
        }
    }
}

// A bevelled metal plate for a button: gold rim, dark inset.
void buttonPlate(QPainter& p, const QRect& r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient rim(outer.topLeft(), outer.bottomLeft());
    rim.setColorAt(0, QColor(0xf6, 0xd3, 0x7e));
    rim.setColorAt(0.5, kGold);
    rim.setColorAt(1, kGoldDark);
    p.setPen(QPen(QColor(0x2a, 0x1c, 0x0c), 1));
    p.setBrush(rim);
    p.drawRoundedRect(outer, 5, 5);
    const QRectF inner = outer.adjusted(2.5, 2.5, -2.5, -2.5);
    QLinearGradient face(inner.topLeft(), inner.bottomLeft());
    face.setColorAt(0, QColor(0x4a, 0x2e, 0x22));
    face.setColorAt(1, QColor(0x1e, 0x12, 0x0e));
    p.setPen(QPen(QColor(0x12, 0x0a, 0x06), 1));
    p.setBrush(face);
    p.drawRoundedRect(inner, 3.5, 3.5);
    // Glint along the upper rim.
    p.setPen(QPen(QColor(255, 246, 214, 150), 1));
    p.drawLine(QPointF(outer.left() + 5, outer.top() + 1.2),
               QPointF(outer.right() - 5, outer.top() + 1.2));
    p.restore();
}

void drawSword(QPainter& p, const QPointF& centre)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(centre);
    p.rotate(-28);
    // Blade.
    QPainterPath blade;
    blade.moveTo(-4, -2.2);
    blade.lineTo(17, -2.2);
    blade.lineTo(22, 0);
    blade.lineTo(17, 2.2);
    blade.lineTo(-4, 2.2);
    blade.closeSubpath();
    QLinearGradient steel(0, -2.2, 0, 2.2);
    steel.setColorAt(0, QColor(0xfb, 0xfd, 0xff));
    steel.setColorAt(0.45, QColor(0xc4, 0xcd, 0xd8));
    steel.setColorAt(1, QColor(0x6c, 0x76, 0x84));
    p.setPen(QPen(QColor(0x1a, 0x1e, 0x26), 0.8));
    p.setBrush(steel);
    p.drawPath(blade);
    p.setPen(QPen(QColor(0x8a, 0x94, 0xa2), 0.6));
    p.drawLine(QPointF(-3, 0), QPointF(17, 0)); // fuller
    // Cross-guard.
    p.setPen(QPen(QColor(0x2a, 0x1c, 0x0c), 0.8));
    p.setBrush(kGold);
    p.drawRoundedRect(QRectF(-6.5, -6.5, 3, 13), 1.2, 1.2);
    // Grip and pommel.
    p.setBrush(QColor(0x6b, 0x3a, 0x1c));
    p.drawRect(QRectF(-13, -1.6, 6.5, 3.2));
    p.setBrush(kGold);
    p.drawEllipse(QPointF(-14.5, 0), 2.3, 2.3);
    p.restore();
}

void drawKey(QPainter& p, const QPointF& centre)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(centre);
    p.rotate(-20);
    QLinearGradient brass(0, -6, 0, 6);
    brass.setColorAt(0, QColor(0xfb, 0xe3, 0x9a));
    brass.setColorAt(0.5, kGold);
    brass.setColorAt(1, QColor(0x8a, 0x5e, 0x1e));
    const QPen outline(QColor(0x2a, 0x1c, 0x0c), 0.8);
    // Bow: a ring.
    QPainterPath bow;
    bow.addEllipse(QPointF(-12, 0), 6, 6);
    bow.addEllipse(QPointF(-12, 0), 3, 3);
    bow.setFillRule(Qt::OddEvenFill);
    // Shank and bit.
    QPainterPath shank;
    shank.addRect(QRectF(-6.5, -1.5, 21, 3));
    shank.addRect(QRectF(9, 1.2, 2.5, 4.2));
    shank.addRect(QRectF(12.5, 1.2, 2, 3));
    QPainterPath key = bow.united(shank);
    p.setPen(outline);
    p.setBrush(brass);
    p.drawPath(key);
    p.restore();
}

// The feather: a curved vane on a quill, shaded along its length.
void drawFeather(QPainter& p, const QPointF& base, const QPointF& tip, qreal width,
                 const QColor& colour)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QLineF axis(base, tip);
    const qreal len = axis.length();
    p.translate(base);
    p.rotate(-axis.angle());
    // In local coordinates the quill runs from (0,0) to (len,0).
    QPainterPath vane;
    vane.moveTo(len * 0.18, 0);
    vane.cubicTo(len * 0.35, -width * 1.05, len * 0.8, -width * 0.9, len, 0);
    vane.cubicTo(len * 0.82, width * 0.75, len * 0.42, width * 1.0, len * 0.18, 0);
    QLinearGradient g(0, -width, 0, width);
    g.setColorAt(0, colour.lighter(135));
    g.setColorAt(0.5, colour);
    g.setColorAt(1, colour.darker(150));
    p.setPen(QPen(colour.darker(220), std::max<qreal>(0.6, width / 10)));
    p.setBrush(g);
    p.drawPath(vane);
    // Barbs: a few notches cut into the vane's edges.
    p.setPen(QPen(colour.darker(190), std::max<qreal>(0.5, width / 14)));
    for (int i = 1; i <= 5; ++i) {
        const qreal t = 0.3 + i * 0.11;
        p.drawLine(QPointF(len * t, 0), QPointF(len * (t + 0.07), -width * 0.62));
        p.drawLine(QPointF(len * t, 0), QPointF(len * (t + 0.06), width * 0.5));
    }
    // Quill.
    p.setPen(QPen(QColor(0xff, 0xf1, 0xd8), std::max<qreal>(0.8, width / 7), Qt::SolidLine,
                  Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(len * 0.97, 0));
    p.restore();
}

// A light framed panel: one-pixel ink line around the parchment fill.
void framedPanel(QPainter& p, const QRect& fill)
{
    // Soft drop shadow outside the ink line.
    for (int i = 3; i >= 1; --i)
        p.fillRect(fill.adjusted(-1 - i + 2, -1 + 2, 1 + i, 1 + i), QColor(0, 0, 0, 28));
    p.fillRect(fill.adjusted(-1, -1, 1, 1), kInk);
    QLinearGradient g(fill.topLeft(), fill.bottomLeft());
    g.setColorAt(0, kParchment.lighter(103));
    g.setColorAt(1, kParchment.darker(104));
    p.fillRect(fill, g);
}

// Gold trim just outside a panel's ink line, with small corner studs.
void goldTrim(QPainter& p, const QRect& fill)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF trim = QRectF(fill).adjusted(-3.5, -3.5, 3.5, 3.5);
    p.setPen(QPen(kGoldDark, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(trim);
    p.setPen(QPen(QColor(0xb8, 0x84, 0x34, 180), 1));
    p.drawRect(trim.adjusted(-1, -1, 1, 1));
    p.setPen(QPen(QColor(0x2a, 0x1c, 0x0c), 0.8));
    p.setBrush(kGold);
    for (const QPointF& c :
         {trim.topLeft(), trim.topRight(), trim.bottomLeft(), trim.bottomRight()})
        p.drawEllipse(c, 2.2, 2.2);
    p.restore();
}

QImage drawBackground()
{
    QImage img(600, 400, QImage::Format_RGB32);
    {
        QPainter p(&img);
        // Body: a deep wine-to-night gradient with a warm glow behind the panels.
        QLinearGradient body(0, 0, 0, 400);
        body.setColorAt(0, QColor(0x3b, 0x20, 0x1c));
        body.setColorAt(0.55, QColor(0x2a, 0x1a, 0x22));
        body.setColorAt(1, QColor(0x15, 0x10, 0x18));
        p.fillRect(img.rect(), body);
        QRadialGradient glow(QPointF(340, 150), 330);
        glow.setColorAt(0, QColor(0xff, 0xa0, 0x40, 60));
        glow.setColorAt(1, QColor(0xff, 0xa0, 0x40, 0));
        p.fillRect(img.rect(), glow);
    }
    addNoise(img, img.rect(), 5, 0x51a7);

    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Title strip along the top edge.
    {
        QLinearGradient strip(0, 0, 0, 20);
        strip.setColorAt(0, QColor(0x16, 0x10, 0x0e));
        strip.setColorAt(1, QColor(0x2c, 0x1b, 0x14));
        p.fillRect(QRect(0, 0, 600, 20), strip);
        p.fillRect(QRect(0, 20, 600, 1), kGoldDark);
        p.fillRect(QRect(0, 21, 600, 1), QColor(0, 0, 0, 120));
        drawFeather(p, QPointF(7, 16), QPointF(19, 3), 3.4, kFeather);
        p.setFont(artFont(u"DejaVu Serif"_s, 12, QFont::Bold));
        shadowText(p, QRectF(25, 0, 500, 20), u"Zidedodozi ra Rirazezo (Updater)"_s,
                   QColor(0xf7, 0xde, 0xa6), Qt::AlignLeft | Qt::AlignVCenter);
        p.setFont(artFont(u"DejaVu Sans"_s, 9, QFont::Normal));
        shadowText(p, QRectF(420, 0, 172, 20), u"AUTO UPDATER"_s, QColor(0xb8, 0x94, 0x60),
                   Qt::AlignRight | Qt::AlignVCenter);
    }

    // Panel captions in the gap between the title strip and the panels.
    p.setFont(artFont(u"DejaVu Sans"_s, 9, QFont::Bold));
    shadowText(p, QRectF(104, 22, 291, 12), u"UPDATE NOTES"_s, kGold);
    shadowText(p, QRectF(421, 22, 153, 12), u"NEWS"_s, kGold);

    // Left column: the two button plates and an ornament below them.
    p.fillRect(QRect(20, 28, 65, 264), QColor(0, 0, 0, 55));
    p.fillRect(QRect(20, 28, 1, 264), QColor(0xb8, 0x84, 0x34, 90));
    p.fillRect(QRect(84, 28, 1, 264), QColor(0xb8, 0x84, 0x34, 90));
    buttonPlate(p, QRect(27, 34, 51, 38));
    drawSword(p, QPointF(53, 47));
    buttonPlate(p, QRect(27, 84, 51, 38));
    drawKey(p, QPointF(53, 97));
    p.setFont(artFont(u"DejaVu Sans"_s, 9, QFont::Bold));
    shadowText(p, QRectF(27, 58, 51, 11), u"PLAY"_s, QColor(0xff, 0xe9, 0xb0));
    shadowText(p, QRectF(27, 108, 51, 11), u"EXIT"_s, QColor(0xff, 0xe9, 0xb0));
    {
        // Emblem: a faint feather in a ring below the buttons.
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0xd9, 0xa4, 0x41, 110), 1.2));
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawEllipse(QPointF(52, 200), 22, 22);
        p.setPen(QPen(QColor(0xd9, 0xa4, 0x41, 70), 1));
        p.drawEllipse(QPointF(52, 200), 18, 18);
        p.restore();
        drawFeather(p, QPointF(42, 214), QPointF(63, 184), 6, kFeather.darker(115));
        p.setPen(QPen(QColor(0xd9, 0xa4, 0x41, 90), 1));
        p.drawLine(32, 150, 72, 150);
        p.drawLine(32, 250, 72, 250);
    }

    // The two light framed panels the web views lie on.
    const QRect notes(104, 37, 291, 254);
    const QRect news(421, 37, 154, 254);
    goldTrim(p, notes);
    goldTrim(p, news);
    framedPanel(p, notes);
    framedPanel(p, news);

    // Dark bottom panel behind the status texts.
    const QRect status(22, 312, 555, 75);
    {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF trim = QRectF(status).adjusted(-4.5, -4.5, 4.5, 4.5);
        QLinearGradient rim(trim.topLeft(), trim.bottomLeft());
        rim.setColorAt(0, QColor(0xf0, 0xc8, 0x70));
        rim.setColorAt(1, kGoldDark);
        p.setPen(QPen(QColor(0x2a, 0x1c, 0x0c), 1));
        p.setBrush(rim);
        p.drawRoundedRect(trim, 4, 4);
        p.restore();
        p.fillRect(status.adjusted(-1, -1, 1, 1), kInk);
        QLinearGradient g(status.topLeft(), status.bottomLeft());
        g.setColorAt(0, QColor(0x1d, 0x22, 0x2e));
        g.setColorAt(1, kNight);
        p.fillRect(status, g);
        // Engraved rule between the heading and the text rows.
        p.fillRect(QRect(40, 338, 519, 1), QColor(0xd9, 0xa4, 0x41, 70));
        p.fillRect(QRect(40, 339, 519, 1), QColor(0, 0, 0, 120));
        p.setFont(artFont(u"DejaVu Sans"_s, 9, QFont::Bold));
        shadowText(p, QRectF(22, 316, 555, 18), u"STATUS"_s, QColor(0xd9, 0xa4, 0x41, 200));
    }
    p.end();
    return img;
}

QImage drawIcon()
{
    QImage img(48, 48, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Stamp: a cream tile whose edges are notched by a row of round bites.
    QPainterPath stamp;
    stamp.addRoundedRect(QRectF(2, 2, 44, 44), 2, 2);
    QPainterPath bites;
    for (int i = 0; i < 7; ++i) {
        const qreal c = 5 + i * 6.33;
        bites.addEllipse(QPointF(c, 2), 2.1, 2.1);
        bites.addEllipse(QPointF(c, 46), 2.1, 2.1);
        bites.addEllipse(QPointF(2, c), 2.1, 2.1);
        bites.addEllipse(QPointF(46, c), 2.1, 2.1);
    }
    stamp = stamp.subtracted(bites);
    p.setPen(QPen(QColor(0x6a, 0x3a, 0x14), 1));
    p.setBrush(QColor(0xfb, 0xf1, 0xdc));
    p.drawPath(stamp);
    // Inner frame and field.
    QLinearGradient field(0, 8, 0, 40);
    field.setColorAt(0, QColor(0x3a, 0x22, 0x2c));
    field.setColorAt(1, QColor(0x1a, 0x12, 0x1e));
    p.setPen(QPen(QColor(0xc0, 0x7a, 0x28), 1.4));
    p.setBrush(field);
    p.drawRect(QRectF(8.5, 8.5, 31, 31));
    drawFeather(p, QPointF(13, 37), QPointF(36, 10), 8, kFeather);
    p.end();
    return img;
}

// 256-colour icon from the drawn image: median-cut palette of 255 colours
// plus one fully transparent entry (index 0), nearest colour per pixel.
QImage toPaletteImage(const QImage& drawn)
{
    const QImage argb = drawn.convertToFormat(QImage::Format_ARGB32);
    std::vector<QRgb> pixels;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) >= 128)
                pixels.push_back(argb.pixel(x, y) | 0xff000000u);

    std::vector<std::vector<QRgb>> boxes{pixels};
    auto channel = [](QRgb c, int i) { return i == 0 ? qRed(c) : i == 1 ? qGreen(c) : qBlue(c); };
    while (boxes.size() < 255) {
        // Split the box with the widest channel range at its median.
        int best = -1, bestChannel = 0, bestRange = 0;
        for (int b = 0; b < int(boxes.size()); ++b) {
            if (boxes[b].size() < 2)
                continue;
            for (int ch = 0; ch < 3; ++ch) {
                int lo = 255, hi = 0;
                for (QRgb c : boxes[b]) {
                    lo = std::min(lo, channel(c, ch));
                    hi = std::max(hi, channel(c, ch));
                }
                if (hi - lo > bestRange) {
                    bestRange = hi - lo;
                    best = b;
                    bestChannel = ch;
                }
            }
        }
        if (best < 0)
            break;
        auto& box = boxes[best];
        std::sort(box.begin(), box.end(), [&](QRgb a, QRgb b) {
            return channel(a, bestChannel) < channel(b, bestChannel);
        });
        std::vector<QRgb> upper(box.begin() + box.size() / 2, box.end());
        box.resize(box.size() / 2);
        boxes.push_back(std::move(upper));
    }
    QList<QRgb> table{qRgba(0, 0, 0, 0)};
    for (const auto& box : boxes) {
        if (box.empty())
            continue;
        long r = 0, g = 0, b = 0;
        for (QRgb c : box) {
            r += qRed(c);
            g += qGreen(c);
            b += qBlue(c);
        }
        const long n = long(box.size());
        table.append(qRgb(int(r / n), int(g / n), int(b / n)));
    }
    while (table.size() < 256)
        table.append(qRgb(0, 0, 0));

    QImage indexed(argb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = argb.pixel(x, y);
            int index = 0;
            if (qAlpha(c) >= 128) {
                int bestDistance = INT_MAX;
                for (int i = 1; i < table.size(); ++i) {
                    const int dr = qRed(c) - qRed(table[i]), dg = qGreen(c) - qGreen(table[i]),
                              db = qBlue(c) - qBlue(table[i]);
                    const int distance = dr * dr + dg * dg + db * db;
                    if (distance < bestDistance) {
                        bestDistance = distance;
                        index = i;
                    }
                }
            }
            indexed.setPixel(x, y, uint(index));
        }
    }
    return indexed;
}

// A .ico file with one 48x48 8-bit image: BITMAPINFOHEADER, 256-entry
// palette, bottom-up pixel rows, then the 1-bit transparency mask.
QByteArray toIco(const QImage& indexed)
{
    const int w = indexed.width(), h = indexed.height();
    const int xorStride = (w + 3) & ~3;
    const int andStride = ((w + 31) / 32) * 4;
    QByteArray dib;
    QDataStream d(&dib, QIODevice::WriteOnly);
    d.setByteOrder(QDataStream::LittleEndian);
    d << quint32(40) << qint32(w) << qint32(2 * h) << quint16(1) << quint16(8) << quint32(0)
      << quint32(xorStride * h + andStride * h) << qint32(0) << qint32(0) << quint32(256)
      << quint32(0);
    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < table.size() ? table.at(i) : 0;
        d << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    }
    for (int y = h - 1; y >= 0; --y) {
        const uchar* line = indexed.constScanLine(y);
        for (int x = 0; x < xorStride; ++x)
            d << quint8(x < w ? line[x] : 0);
    }
    for (int y = h - 1; y >= 0; --y) {
        const uchar* line = indexed.constScanLine(y);
        for (int byte = 0; byte < andStride; ++byte) {
            quint8 bits = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int x = byte * 8 + bit;
                const bool transparent = x >= w || qAlpha(table.at(line[x])) < 128;
                if (transparent)
                    bits |= quint8(0x80 >> bit);
            }
            d << bits;
        }
    }
    QByteArray ico;
    QDataStream o(&ico, QIODevice::WriteOnly);
    o.setByteOrder(QDataStream::LittleEndian);
    o << quint16(0) << quint16(1) << quint16(1);
    o << quint8(w) << quint8(h) << quint8(0) << quint8(0) << quint16(1) << quint16(8)
      << quint32(dib.size()) << quint32(6 + 16);
    ico.append(dib);
    return ico;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane-art <output-folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QImage background = drawBackground().convertToFormat(QImage::Format_RGB888);
    const QImage icon = toPaletteImage(drawIcon());
    bool ok = background.save(out.filePath(u"background.bmp"_s), "BMP");
    ok = icon.save(out.filePath(u"quorvane.png"_s), "PNG") && ok;
    ok = writeFile(out.filePath(u"quorvane.ico"_s), toIco(icon)) && ok;
    if (!ok) {
        std::fprintf(stderr, "quorvane-art: could not write the artwork\n");
        return 1;
    }
    return 0;
}
