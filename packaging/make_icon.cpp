// Draws Clefwork's desktop icon: a bass clef and a note on five stave lines, on a rounded tile.
// Usage: make_icon <size> <output.png>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>

namespace {

void drawIcon(QPainter& p) {
    // Everything is drawn on a 128 x 128 grid and scaled to the size asked for.
    const QColor ink(24, 28, 56);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath tile;
    tile.addRoundedRect(QRectF(4, 4, 120, 120), 22, 22);
    p.fillPath(tile, QColor(250, 244, 226));
    p.setPen(QPen(QColor(0, 0, 192), 5));
    p.drawPath(tile);

    // The stave: lines 14 apart, the top one at y 36.
    p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::FlatCap));
    for (int i = 0; i < 5; ++i) {
        const double y = 36 + 14 * i;
        p.drawLine(QPointF(14, y), QPointF(114, y));
    }

    // The bass clef: a head on the fourth line from the bottom (y 50), a curl up over the top
    // line and a tail sweeping down, and the two dots either side of that line.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(27, 50), 6.5, 6.5);
    QPainterPath curl;
    curl.moveTo(22, 47);
    curl.cubicTo(24, 30, 52, 26, 56, 46);
    curl.cubicTo(60, 66, 44, 86, 22, 96);
    curl.lineTo(21, 93);
    curl.cubicTo(38, 82, 48, 64, 46, 48);
    curl.cubicTo(44, 34, 30, 34, 26, 45);
    curl.closeSubpath();
    p.drawPath(curl);
    p.drawEllipse(QPointF(64, 43), 3.2, 3.2);
    p.drawEllipse(QPointF(64, 57), 3.2, 3.2);

    // A crotchet on the middle line, stem up, in the window's blue.
    const QColor blue(0, 0, 192);
    p.setBrush(blue);
    p.save();
    p.translate(92, 64);
    p.rotate(-20);
    p.drawEllipse(QPointF(0, 0), 9, 6.5);
    p.restore();
    p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(99.5, 61), QPointF(99.5, 22));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <size> <output.png>\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "make_icon: size %s is not between 16 and 1024\n", argv[1]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.scale(size / 128.0, size / 128.0);
        drawIcon(p);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
