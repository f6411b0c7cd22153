// The notes on the stave: each note is one sprite copied onto the kept drawing surface with an
// AND of its shape picture (black figure on white) and then an exclusive or of its colour picture.
#include "platform/appdir.h"
#include "ui/clientarea.h"
#include "ui/stavebass.h"

#include <QFileInfo>
#include <QPainter>

#include <cstdint>
#include <cstring>

namespace {

// White rows between the 8va mark and the top of the note's sprite.
constexpr int kOttavaGap = 6;

// The bar lines, thin as the stave's lines, from the top row of the top line (window row 146) to
// the bottom row of the bottom line (235).  The one between the bars stands in the middle of the
// free columns between the bar being played, whose last sprite ends at column 431 (x 390, 42
// wide), and the waiting bar, whose first sign starts at column 460 (x 470, 10 to its left); the
// last one closes the stave at its right edge.  Every note, sign and 8va mark stays at least 13
// columns clear of the first and 200 of the last.
constexpr int kBarLineWidth = 2;
constexpr int kBarLineTop = 146;
constexpr int kBarLineBottom = 235;
constexpr int kBarLines[] = {445, stavebass::kStaveLeft + 664 - kBarLineWidth};

// A picture, its pixels in the surface's format, each pixel made `enlarge` pixels wide and high
// (at scale 2, for a folder without the picture's 2x twin).
QImage loadPicture(const QString& file, int enlarge) {
    QImage img(file);
    if (img.isNull()) {
        return img;
    }
    img = img.convertToFormat(QImage::Format_RGB32);
    if (enlarge > 1) {
        img = img.scaled(img.size() * enlarge, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    // Sprites are copied pixel for pixel: only the surface carries the scale.
    img.setDevicePixelRatio(1.0);
    return img;
}

enum class RasterOp { And, Xor };

// One raster operation of a w x h piece of src (from its top left corner) onto the surface at
// `at`, clipped to both pictures.  32-bit pixels are combined directly, as GDI does: the painter's
// raster operations go through its general blending path and cost some 60 us a note sprite.
// Alpha stays opaque, as the painter leaves it.  Other formats go through the painter.
void rasterOp(QImage& surface, QPoint at, const QImage& src, int w, int h, RasterOp op) {
    if (src.isNull()) {
        return;
    }
    const QRect piece(0, 0, std::min(w, src.width()), std::min(h, src.height()));
    if (surface.format() != QImage::Format_RGB32 || src.format() != QImage::Format_RGB32) {
        // In the surface's own pixels, whatever its scale.
        const qreal ratio = surface.devicePixelRatio();
        surface.setDevicePixelRatio(1.0);
        {
            QPainter p(&surface);
            p.setCompositionMode(op == RasterOp::And ? QPainter::RasterOp_SourceAndDestination
                                                     : QPainter::RasterOp_SourceXorDestination);
            p.drawImage(at, src, piece);
        }
        surface.setDevicePixelRatio(ratio);
        return;
    }
    const QRect target = QRect(at, piece.size()).intersected(surface.rect());
    if (target.isEmpty()) {
        return;
    }
    const int sx = target.x() - at.x();
    const int sy = target.y() - at.y();
    for (int row = 0; row < target.height(); ++row) {
        auto* d = reinterpret_cast<uint32_t*>(surface.scanLine(target.y() + row)) + target.x();
        const auto* s = reinterpret_cast<const uint32_t*>(src.constScanLine(sy + row)) + sx;
        if (op == RasterOp::And) {
            for (int i = 0; i < target.width(); ++i) {
                d[i] = (d[i] & s[i]) | 0xFF000000u;
            }
        } else {
            for (int i = 0; i < target.width(); ++i) {
                d[i] = (d[i] ^ s[i]) | 0xFF000000u;
            }
        }
    }
}

// BitBlt with SRCAND then SRCINVERT, at window coordinates and sizes; on a surface at scale 2
// (whose sprites are twice the size) every coordinate and size doubles.
void blit(QImage& surface, int x, int y, const QImage& shape, const QImage& colour, int w, int h) {
    const int s = static_cast<int>(surface.devicePixelRatio());
    const QPoint at((x - stavebass::kStaveLeft) * s, (y - stavebass::kStaveTop) * s);
    rasterOp(surface, at, shape, w * s, h * s, RasterOp::And);
    rasterOp(surface, at, colour, w * s, h * s, RasterOp::Xor);
}

// Puts the bare stave back on the surface.  The surface keeps its own pixels, so a redraw
// allocates nothing (a fresh copy on every first beat was a new buffer whose pages were touched
// afresh each time).
void wipe(QImage& surface, const QImage& stave) {
    if (surface.size() != stave.size() || surface.format() != stave.format() ||
        surface.bytesPerLine() != stave.bytesPerLine()) {
        surface = stave.copy();
        return;
    }
    std::memcpy(surface.bits(), stave.constBits(), static_cast<std::size_t>(stave.sizeInBytes()));
}

// Adds the bar lines to the bare stave, in its coordinates at scale 1 (the painter doubles them
// on a stave at scale 2).
void drawBarLines(QImage& stave) {
    QPainter p(&stave);
    for (int x : kBarLines) {
        p.fillRect(x - stavebass::kStaveLeft, kBarLineTop - stavebass::kStaveTop, kBarLineWidth,
                   kBarLineBottom - kBarLineTop + 1, Qt::black);
    }
}

} // namespace

int stavebass::chosenStaveScale() const {
    if (forcedStaveScale == 1 || forcedStaveScale == 2) {
        return forcedStaveScale;
    }
    // Pictures at twice the size from scale 1.25 up: the painter shrinks them a little there,
    // rather than doubling the pixels of the small ones.
    return devicePixelRatioF() > 1.25 ? 2 : 1;
}

QString stavebass::picturefile(const QString& name) const {
    if (staveScale == 2) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString twin =
            platform::appFile(name.left(dot) + QStringLiteral("@2x") + name.mid(dot));
        if (QFileInfo::exists(twin)) {
            return twin;
        }
    }
    return platform::appFile(name);
}

void stavebass::loadSprites() {
    staveScale = chosenStaveScale();
    auto load = [this](const char* name) {
        const QString file = picturefile(QString::fromLatin1(name));
        const bool twin = file != platform::appFile(QString::fromLatin1(name));
        return loadPicture(file, twin ? 1 : staveScale);
    };
    stavePicture = load("stave.bmp");
    if (stavePicture.isNull()) {
        // Without its picture (start-up has named it) the stave is drawn plain: its five lines,
        // 2 rows thick at rows 111, 133, 155, 177 and 199, so that the notes still read.
        stavePicture = QImage(664 * staveScale, 292 * staveScale, QImage::Format_RGB32);
        stavePicture.fill(Qt::white);
        stavePicture.setDevicePixelRatio(staveScale);
        QPainter p(&stavePicture);
        for (int line = 0; line < 5; ++line) {
            p.fillRect(0, 111 + 22 * line, 664, 2, Qt::black);
        }
    }
    // The surface keeps the stave's pixels; painted at the stave's size, its pixels meet the
    // screen's one to one.
    stavePicture.setDevicePixelRatio(staveScale);
    // The picture holds the five lines only; the bars are the window's own, so their lines go
    // onto the stave that every redraw starts from.
    drawBarLines(stavePicture);
    stabdownsprite = load("stabdownsprite.bmp");
    stabdownmask = load("stabdownmask.bmp");
    sitdownsprite = load("sitdownsprite.bmp");
    sitdownmask = load("sitdownmask.bmp");
    stabupsprite = load("stabupsprite.bmp");
    stabupmask = load("stabupmask.bmp");
    hangupsprite = load("hangupsprite.bmp");
    hangupmask = load("hangupmask.bmp");
    adjust = load("adjust.bmp");
    sharpsprite = load("sharpsprite.bmp");
    sharpmask = load("sharpmask.bmp");
    flatsprite = load("flatsprite.bmp");
    flatmask = load("flatmask.bmp");
    naturalsprite = load("naturalsprite.bmp");
    naturalmask = load("naturalmask.bmp");
    ottavaMark = load("ottava.bmp");
    ottavaMask = load("ottavamask.bmp");
    surface = stavePicture.copy();
}

void stavebass::shownote() {
    const QImage* shape = nullptr;
    const QImage* colour = nullptr;
    int w = 0;
    int h = 0;
    switch (spriteType) {
    case 1:
        shape = &stabdownsprite;
        colour = &stabdownmask;
        w = 42;
        h = 142;
        // D sits low inside the stave, where the sprite's lowest line would add a ledger line
        // below the bottom line.
        if (drawNoteName == "D0" || drawNoteName == "D#0" || drawNoteName == "Db0") {
            shape = &adjust;
        }
        break;
    case 2:
        shape = &sitdownsprite;
        colour = &sitdownmask;
        w = 41;
        h = 131;
        if (drawNoteName == "C0" || drawNoteName == "C#0" || drawNoteName == "Cb0") {
            shape = &adjust;
        }
        break;
    case 3:
        shape = &stabupsprite;
        colour = &stabupmask;
        w = 42;
        h = 117;
        break;
    case 4:
        shape = &hangupsprite;
        colour = &hangupmask;
        w = 42;
        h = 129;
        break;
    default:
        return; // any other type draws nothing
    }
    blit(surface, drawX, drawY, *shape, *colour, w, h);
    if (drawOttava) {
        // Written an octave lower than it is read: the 8va mark centred over the head (columns
        // 7-35 of a stem-down sprite, 8-36 of a stem-up one), a little above its top.  Signs
        // stand left of the sprite and end before its column 1, so the mark never touches them;
        // the highest note that carries it (G2, top row 70) keeps it well below the name boxes.
        const int headCentre = spriteType <= 2 ? 21 : 22;
        const int markWidth = ottavaMark.width() / staveScale;
        const int markHeight = ottavaMark.height() / staveScale;
        const int markX = drawX + headCentre - markWidth / 2;
        const int markY = drawY - kOttavaGap - markHeight;
        blit(surface, markX, markY, ottavaMark, ottavaMask, markWidth, markHeight);
    }
}

void stavebass::accidents() {
    // The sign's top stands 6 pixels above the head's top row: the head is at the top of a
    // stem-down sprite, and at rows 97 (on a line) or 110 (in a space) of a stem-up one.
    const int16_t toHead = spriteType == 3 ? 91 : spriteType == 4 ? 104 : -6;
    drawY = static_cast<int16_t>(drawY + toHead);
    switch (accidentalSign) {
    case 1:
        blit(surface, drawX - 10, drawY, sharpmask, sharpsprite, 11, 35);
        break;
    case 2:
        blit(surface, drawX - 10, drawY, flatmask, flatsprite, 8, 29);
        break;
    case 3:
        blit(surface, drawX - 10, drawY, naturalmask, naturalsprite, 8, 36);
        break;
    default:
        break;
    }
    drawY = static_cast<int16_t>(drawY - toHead);
}

void stavebass::drawbars() {
    // Repainting the stave picture wipes every note and sign drawn since the last time.
    wipe(surface, stavePicture);
    if (!nextBarCopy[1].empty()) {
        for (barPos = 1; barPos <= 4; ++barPos) {
            const auto p = static_cast<std::size_t>(barPos);
            drawX = static_cast<int16_t>(nextBarX[p]);
            spriteType = nextBarLayout[kType][p];
            drawY = nextBarLayout[kHeight][p];
            accidentalSign = nextBarLayout[kSign][p];
            drawNoteName = nextBar[p];
            drawOttava = nextBarOttava[p];
            shownote();
            accidents();

            drawX = static_cast<int16_t>(currentBarX[p]);
            spriteType = currentBarLayout[kType][p];
            drawY = currentBarLayout[kHeight][p];
            accidentalSign = currentBarLayout[kSign][p];
            drawNoteName = currentBar[p];
            drawOttava = currentBarOttava[p];
            shownote();
            accidents();
        }
        drawOttava = false;
    }
    Image3->update();
}
