#include "canvas.h"

namespace artwork {

QImage filled(int width, int height, QColor colour) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

void cutToBlackWhite(QImage& picture) {
    if (picture.format() != QImage::Format_RGB32) {
        picture = picture.convertToFormat(QImage::Format_RGB32);
    }
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            line[x] = qGray(line[x]) < 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        }
    }
}

QImage renderBlackWhite(int width, int height, const std::function<void(QPainter&)>& draw,
                        int scale) {
    QImage big = filled(width * scale, height * scale, Qt::white);
    {
        QPainter painter(&big);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        draw(painter);
    }
    QImage small = big.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    cutToBlackWhite(small);
    return small;
}

void fillBox(QImage& picture, int left, int top, int width, int height, QColor colour) {
    const QRgb value = colour.rgb();
    for (int y = std::max(0, top); y < std::min(picture.height(), top + height); ++y) {
        for (int x = std::max(0, left); x < std::min(picture.width(), left + width); ++x) {
            picture.setPixel(x, y, value);
        }
    }
}

void stamp(QImage& target, const QImage& shape, int x, int y) {
    for (int sy = 0; sy < shape.height(); ++sy) {
        for (int sx = 0; sx < shape.width(); ++sx) {
            const int tx = x + sx;
            const int ty = y + sy;
            if (tx < 0 || ty < 0 || tx >= target.width() || ty >= target.height()) {
                continue;
            }
            if (qGray(shape.pixel(sx, sy)) < 128) {
                target.setPixel(tx, ty, qRgb(0, 0, 0));
            }
        }
    }
}

} // namespace artwork
