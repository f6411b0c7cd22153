// The pictures of the windows: the logo, the four button faces, the intro picture, the About
// picture, the fretboard chart and the pointing hand of the web links.

#include "artwork.h"
#include "canvas.h"

#include "engine/notes.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace artwork {
namespace {

QFont font(const char* family, int pixels, bool bold = false, bool italic = false) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

// Text filled with a brush and edged with a pen, its baseline starting at `origin`.
void outlinedText(QPainter& p, QPointF origin, const QString& text, const QFont& f,
                  const QBrush& fill, const QPen& edge) {
    QPainterPath path;
    path.addText(origin, f, text);
    p.setPen(edge);
    p.setBrush(fill);
    p.drawPath(path);
}

// Five lines `gap` apart from `top`, `left` to `right`.
void staveLines(QPainter& p, double left, double right, double top, double gap, QColor colour,
                double thickness) {
    p.setPen(QPen(colour, thickness));
    for (int i = 0; i < 5; ++i) {
        p.drawLine(QPointF(left, top + i * gap), QPointF(right, top + i * gap));
    }
}

QImage logo() {
    QImage picture = filled(234, 85, Qt::black);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 85);
    sky.setColorAt(0, QColor(20, 20, 110));
    sky.setColorAt(1, QColor(90, 0, 120));
    p.fillRect(picture.rect(), sky);
    // Four strings running across, like a neck seen from above.
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(QColor(200, 200, 220, 120), 1.0 + i * 0.5));
        p.drawLine(QPointF(0, 62 + i * 6), QPointF(234, 58 + i * 7));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 80));
    p.drawPath(bassClef(8, 30, 17));
    QLinearGradient gold(0, 18, 0, 58);
    gold.setColorAt(0, QColor(255, 250, 150));
    gold.setColorAt(0.5, QColor(255, 170, 0));
    gold.setColorAt(1, QColor(230, 60, 20));
    outlinedText(p, QPointF(52, 50), "Clefwork", font("DejaVu Serif", 32, true, true), gold,
                 QPen(QColor(60, 0, 0), 1.5));
    p.setPen(QColor(150, 230, 255));
    p.setFont(font("DejaVu Sans", 12, true));
    p.drawText(QRectF(56, 56, 170, 20), Qt::AlignRight | Qt::AlignVCenter, "bass reading");
    return picture;
}

// A button face: light blue with a soft raised edge; `draw` adds the symbol.
QImage buttonFace(const std::function<void(QPainter&)>& draw) {
    QImage picture = filled(40, 32, QColor(192, 192, 255));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return picture;
}

QImage startButton() {
    return buttonFace([](QPainter& p) {
        QPainterPath triangle;
        triangle.moveTo(14, 7);
        triangle.lineTo(29, 16);
        triangle.lineTo(14, 25);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(0, 70, 0), 1.2));
        p.setBrush(QColor(20, 160, 40));
        p.drawPath(triangle);
    });
}

QImage stopButton() {
    return buttonFace([](QPainter& p) {
        p.setPen(QPen(QColor(90, 0, 0), 1.2));
        p.setBrush(QColor(200, 30, 30));
        p.drawRect(QRectF(12.5, 8.5, 15, 15));
    });
}

QImage pauseButton() {
    return buttonFace([](QPainter& p) {
        p.setPen(QPen(QColor(0, 0, 90), 1.2));
        p.setBrush(QColor(40, 60, 200));
        p.drawRect(QRectF(12.5, 8.5, 5, 15));
        p.drawRect(QRectF(22.5, 8.5, 5, 15));
    });
}

QImage fretButton() {
    return buttonFace([](QPainter& p) {
        // A short neck: rosewood board, a bone nut, nickel frets, four strings.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(110, 60, 30));
        p.drawRect(QRectF(3, 14, 34, 14));
        p.setBrush(QColor(240, 235, 210));
        p.drawRect(QRectF(3, 14, 2.5, 14));
        p.setPen(QPen(QColor(210, 210, 210), 1));
        for (double x : {13.0, 21.0, 28.5, 35.0}) {
            p.drawLine(QPointF(x, 14), QPointF(x, 28));
        }
        p.setPen(QPen(QColor(250, 240, 200), 0.8));
        for (int i = 0; i < 4; ++i) {
            p.drawLine(QPointF(3, 16 + i * 3.3), QPointF(37, 16 + i * 3.3));
        }
        // The arrow comes down onto a note on the third string.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 230, 0));
        p.drawEllipse(QPointF(17, 22.6), 2.3, 2.3);
        p.setPen(QPen(QColor(200, 0, 0), 1.8));
        p.drawLine(QPointF(26, 3), QPointF(18.8, 18.5));
        QPainterPath head;
        head.moveTo(17.6, 20.5);
        head.lineTo(16.2, 14.5);
        head.lineTo(22.0, 16.6);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 0, 0));
        p.drawPath(head);
    });
}

// A whole note head (hollow, tilted) or a filled one, centred at (x, y).
void noteHead(QPainter& p, QPointF centre, double gap, bool filledHead, QColor colour) {
    QPainterPath head;
    head.addEllipse(QPointF(0, 0), gap * 0.68, gap * 0.46);
    QTransform t;
    t.translate(centre.x(), centre.y());
    t.rotate(-22);
    p.setPen(QPen(colour, 1.4));
    p.setBrush(filledHead ? QBrush(colour) : QBrush(Qt::NoBrush));
    p.drawPath(t.map(head));
}

QImage intro() {
    QImage picture = filled(405, 279, QColor(0, 0, 192));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(200, 90), 260);
    glow.setColorAt(0, QColor(40, 60, 235));
    glow.setColorAt(1, QColor(0, 0, 150));
    p.fillRect(picture.rect(), glow);

    QLinearGradient gold(0, 20, 0, 78);
    gold.setColorAt(0, QColor(255, 250, 170));
    gold.setColorAt(0.55, QColor(255, 185, 20));
    gold.setColorAt(1, QColor(235, 90, 10));
    const QFont title = font("DejaVu Serif", 58, true, true);
    const double titleWidth = QFontMetricsF(title).horizontalAdvance("Clefwork");
    outlinedText(p, QPointF((405 - titleWidth) / 2, 76), "Clefwork", title, gold,
                 QPen(QColor(40, 0, 60), 2));
    p.setPen(QColor(220, 235, 255));
    p.setFont(font("DejaVu Sans", 19, false, true));
    p.drawText(QRectF(0, 86, 405, 28), Qt::AlignCenter, "for the bass guitar");

    // A stave with a bass clef and a walking line of notes.
    const double gap = 14;
    const double top = 150;
    const QColor ink(255, 255, 255);
    staveLines(p, 24, 381, top, gap, ink, 1.6);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(bassClef(34, top + gap, gap));
    const double bottomLine = top + 4 * gap;
    // Steps above the bottom line: G B D F A C (a rising arpeggio) and back down.
    const int steps[] = {0, 2, 4, 6, 5, 3, 1, 2};
    for (int i = 0; i < 8; ++i) {
        const double x = 108 + i * 32 + (i >= 4 ? 18 : 0);
        const double y = bottomLine - steps[i] * gap / 2;
        noteHead(p, QPointF(x, y), gap, true, ink);
        p.setPen(QPen(ink, 1.6));
        const bool stemUp = steps[i] < 4;
        const double stemX = stemUp ? x + gap * 0.6 : x - gap * 0.6;
        p.drawLine(QPointF(stemX, y), QPointF(stemX, stemUp ? y - 3.4 * gap : y + 3.4 * gap));
    }
    p.setPen(QPen(ink, 1.6));
    p.drawLine(QPointF(235, top), QPointF(235, bottomLine)); // bar line
    p.drawLine(QPointF(381, top), QPointF(381, bottomLine));
    p.setPen(QColor(170, 190, 255));
    p.setFont(font("DejaVu Sans", 12));
    p.drawText(QRectF(0, 248, 405, 22), Qt::AlignCenter, "read the notes  -  keep the time");
    return picture;
}

// A bass guitar standing upright: headstock with four tuners at the top, a long neck, and a
// double-cutaway body with two pickups, bridge and strings.
QImage aboutLogo() {
    QImage picture = filled(179, 253, QColor(0, 0, 160));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 179, 253);
    back.setColorAt(0, QColor(20, 30, 170));
    back.setColorAt(1, QColor(0, 0, 90));
    p.fillRect(picture.rect(), back);

    // Body.
    QPainterPath body;
    body.moveTo(78, 138);
    body.cubicTo(70, 128, 48, 118, 44, 134);
    body.cubicTo(41, 148, 58, 160, 50, 178);
    body.cubicTo(40, 200, 40, 238, 89, 242);
    body.cubicTo(138, 238, 140, 204, 128, 182);
    body.cubicTo(120, 166, 134, 150, 132, 126);
    body.cubicTo(130, 110, 108, 124, 100, 138);
    body.closeSubpath();
    QLinearGradient sunburst(40, 0, 140, 0);
    sunburst.setColorAt(0, QColor(120, 10, 0));
    sunburst.setColorAt(0.35, QColor(240, 120, 10));
    sunburst.setColorAt(0.5, QColor(255, 200, 40));
    sunburst.setColorAt(0.65, QColor(240, 120, 10));
    sunburst.setColorAt(1, QColor(120, 10, 0));
    p.setPen(QPen(QColor(30, 0, 0), 2));
    p.setBrush(sunburst);
    p.drawPath(body);

    // Neck and headstock.
    p.setPen(QPen(QColor(40, 20, 0), 1));
    p.setBrush(QColor(90, 45, 20));
    p.drawRect(QRectF(81, 40, 17, 132));
    QPainterPath head;
    head.moveTo(81, 42);
    head.lineTo(77, 8);
    head.cubicTo(80, 3, 99, 3, 102, 8);
    head.lineTo(98, 42);
    head.closeSubpath();
    p.setBrush(QColor(30, 20, 20));
    p.drawPath(head);
    p.setBrush(QColor(220, 220, 230));
    for (int i = 0; i < 4; ++i) {
        const double y = 12 + i * 8;
        const bool left = i % 2 == 0;
        p.drawEllipse(QPointF(left ? 71 : 108, y), 4.5, 3.2);
        p.drawRect(QRectF(left ? 74 : 100, y - 1, 6, 2));
    }
    p.setPen(QPen(QColor(200, 200, 190), 1));
    for (int f = 0; f < 14; ++f) {
        const double y = 42 + 130 * (1 - std::pow(2.0, -f / 12.0)) * 1.35;
        if (y < 172) {
            p.drawLine(QPointF(81, y), QPointF(98, y));
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(245, 245, 235));
    for (int f : {3, 5, 7, 9}) {
        const double y = 42 + 130 * 1.35 * (1 - std::pow(2.0, -(f - 0.5) / 12.0));
        p.drawEllipse(QPointF(89.5, y), 2, 2);
    }

    // Pickups, bridge, control knobs.
    p.setBrush(QColor(20, 20, 20));
    p.drawRoundedRect(QRectF(76, 180, 27, 9), 2, 2);
    p.drawRoundedRect(QRectF(76, 202, 27, 9), 2, 2);
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(QRectF(77, 222, 25, 7));
    for (double x : {116.0, 121.0}) {
        p.drawEllipse(QPointF(x, 206 + (x - 116) * 3), 3.2, 3.2);
    }
    // Strings.
    p.setPen(QPen(QColor(235, 235, 240), 0.9));
    for (int i = 0; i < 4; ++i) {
        const double x = 84 + i * 3.8;
        p.drawLine(QPointF(x - 0.4 * (i - 1.5), 40), QPointF(x, 225));
    }
    return picture;
}

// The notes of the neck: strings G D A E from the top, frets 0 (open) to 12.
QImage fretboardChart() {
    constexpr int width = 682;
    constexpr int height = 144;
    QImage picture = filled(width, height, QColor(192, 255, 255));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    constexpr double nut = 58;
    constexpr double twelfth = 668;
    constexpr double scale = 2 * (twelfth - nut); // a real scale: fret 12 halves the string
    auto fretX = [&](int fret) { return nut + scale * (1 - std::pow(2.0, -fret / 12.0)); };
    constexpr double boardTop = 10;
    constexpr double boardBottom = 118;
    constexpr double stringGap = 28;
    auto stringY = [&](int fromTop) { return boardTop + 12 + fromTop * stringGap; };

    QLinearGradient wood(0, boardTop, 0, boardBottom);
    wood.setColorAt(0, QColor(95, 55, 30));
    wood.setColorAt(0.5, QColor(120, 70, 38));
    wood.setColorAt(1, QColor(85, 48, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawRect(QRectF(nut, boardTop, twelfth + 6 - nut, boardBottom - boardTop));

    // Inlays between the strings: single dots at 3, 5, 7, 9, a pair at 12.
    p.setBrush(QColor(235, 230, 210));
    const double middle = (stringY(1) + stringY(2)) / 2;
    for (int fret : {3, 5, 7, 9}) {
        p.drawEllipse(QPointF((fretX(fret - 1) + fretX(fret)) / 2, middle), 5, 5);
    }
    const double twelve = (fretX(11) + fretX(12)) / 2;
    p.drawEllipse(QPointF(twelve, (stringY(0) + stringY(1)) / 2), 5, 5);
    p.drawEllipse(QPointF(twelve, (stringY(2) + stringY(3)) / 2), 5, 5);

    // Nut and frets.
    p.setBrush(QColor(245, 240, 220));
    p.drawRect(QRectF(nut - 5, boardTop, 5, boardBottom - boardTop));
    p.setPen(QPen(QColor(200, 200, 205), 2));
    for (int fret = 1; fret <= 12; ++fret) {
        p.drawLine(QPointF(fretX(fret), boardTop), QPointF(fretX(fret), boardBottom));
    }

    // Strings, thicker towards the low E.
    for (int s = 0; s < 4; ++s) {
        p.setPen(QPen(QColor(225, 225, 215), 1.2 + s * 0.6));
        p.drawLine(QPointF(0, stringY(s)), QPointF(width, stringY(s)));
    }

    // The names, from the program's own table: slot k holds the note k-1 semitones above the
    // open low E.  Open offsets: E 0, A 5, D 10, G 15; the top string is G.
    const auto& table = notes::chromaticTable();
    const int openOffset[4] = {15, 10, 5, 0};
    const QFont nameFont = font("DejaVu Sans", 11, true);
    p.setFont(nameFont);
    for (int s = 0; s < 4; ++s) {
        for (int fret = 0; fret <= 12; ++fret) {
            const auto slot = static_cast<size_t>(openOffset[s] + fret + 1);
            const QString name = QString::fromStdString(notes::withoutOctave(table[slot]));
            const double x = fret == 0 ? 26 : (fretX(fret - 1) + fretX(fret)) / 2;
            const QRectF box(x - 13, stringY(s) - 8, 26, 16);
            const bool natural = name.size() == 1;
            p.setPen(QPen(QColor(0, 0, 80), 1));
            p.setBrush(fret == 0 ? QColor(255, 255, 255)
                       : natural ? QColor(255, 255, 0)
                                 : QColor(255, 200, 120));
            p.drawRoundedRect(box, 5, 5);
            p.setPen(QColor(0, 0, 160));
            p.drawText(box, Qt::AlignCenter, name);
        }
    }

    // Fret numbers under the board.
    p.setPen(QColor(0, 0, 120));
    p.setFont(font("DejaVu Sans", 11));
    for (int fret = 0; fret <= 12; ++fret) {
        const double x = fret == 0 ? 26 : (fretX(fret - 1) + fretX(fret)) / 2;
        p.drawText(QRectF(x - 15, 122, 30, 18), Qt::AlignCenter,
                   fret == 0 ? QStringLiteral("open") : QString::number(fret));
    }
    return picture;
}

// The pointing hand: the index finger points up with its tip at (9, 3), the other fingers are
// curled into the palm, the thumb lies along the left.
QPainterPath handPath() {
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(6.5, 3, 6, 17), 3, 3);          // index finger
    hand.addRoundedRect(QRectF(11.5, 10.5, 5.5, 9), 2.5, 2.5); // middle knuckle
    hand.addRoundedRect(QRectF(16, 11.5, 5.5, 8.5), 2.5, 2.5); // ring knuckle
    hand.addRoundedRect(QRectF(20.5, 12.5, 5, 8), 2.5, 2.5);   // little finger
    QPainterPath thumb;
    thumb.moveTo(7, 16);
    thumb.cubicTo(4, 13, 1.5, 14, 2, 17);
    thumb.cubicTo(3, 20, 5, 23, 7.5, 25);
    thumb.closeSubpath();
    hand.addPath(thumb);
    hand.addRoundedRect(QRectF(6.5, 16, 19, 13.5), 4, 4); // palm and wrist
    return hand.simplified();
}

void handPictures(Output& out) {
    const QPainterPath hand = handPath();
    const QImage mask = renderBlackWhite(32, 32, [&](QPainter& p) { p.drawPath(hand); });
    // The outline: every opaque pixel with a transparent neighbour; inside, white, with short
    // creases between the curled fingers.
    QImage picture = filled(32, 32, Qt::white);
    auto opaque = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < 32 && y < 32 && qGray(mask.pixel(x, y)) < 128;
    };
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (opaque(x, y) && (!opaque(x - 1, y) || !opaque(x + 1, y) || !opaque(x, y - 1) ||
                                 !opaque(x, y + 1))) {
                picture.setPixel(x, y, qRgb(0, 0, 0));
            }
        }
    }
    for (int x : {12, 16, 21}) {
        fillBox(picture, x, 13, 1, 5, Qt::black);
    }
    fillBox(picture, 8, 20, 4, 1, Qt::black); // the thumb's edge over the palm
    out.save(picture, "hand.bmp");
    out.save(mask, "handmask.bmp");
}

} // namespace

void drawWindowPictures(Output& out) {
    out.save(logo(), "logo.bmp");
    out.save(startButton(), "start.bmp");
    out.save(stopButton(), "stop.bmp");
    out.save(pauseButton(), "pause.bmp");
    out.save(fretButton(), "fretbutton.bmp");
    out.save(intro(), "intro.bmp");
    out.save(aboutLogo(), "aboutlogo.bmp");
    out.save(fretboardChart(), "fretboard.bmp");
    handPictures(out);
}

} // namespace artwork
