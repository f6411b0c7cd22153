// The notes on the stave: each note is one sprite copied onto the kept drawing surface with an
// AND of its shape picture (black figure on white) and then an exclusive or of its colour picture.
#include "platform/appdir.h"
#include "ui/clientarea.h"
#include "ui/stavebass.h"

#include <QPainter>

namespace {

QImage loadPicture(const QString& name) {
    QImage img(platform::appFile(name));
    if (img.isNull()) {
        return img;
    }
    return img.convertToFormat(QImage::Format_RGB32);
}

// BitBlt with SRCAND then SRCINVERT, at window coordinates.
void blit(QImage& surface, int x, int y, const QImage& shape, const QImage& colour, int w, int h) {
    QPainter p(&surface);
    const QPoint at(x - stavebass::kStaveLeft, y - stavebass::kStaveTop);
    if (!shape.isNull()) {
        p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        p.drawImage(at, shape,
                    QRect(0, 0, std::min(w, shape.width()), std::min(h, shape.height())));
    }
    if (!colour.isNull()) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.drawImage(at, colour,
                    QRect(0, 0, std::min(w, colour.width()), std::min(h, colour.height())));
    }
}

} // namespace

void stavebass::loadSprites() {
    stavePicture = loadPicture(QStringLiteral("stave.bmp"));
    if (stavePicture.isNull()) {
        stavePicture = QImage(664, 292, QImage::Format_RGB32);
        stavePicture.fill(Qt::white);
    }
    stabdownsprite = loadPicture(QStringLiteral("stabdownsprite.bmp"));
    stabdownmask = loadPicture(QStringLiteral("stabdownmask.bmp"));
    sitdownsprite = loadPicture(QStringLiteral("sitdownsprite.bmp"));
    sitdownmask = loadPicture(QStringLiteral("sitdownmask.bmp"));
    stabupsprite = loadPicture(QStringLiteral("stabupsprite.bmp"));
    stabupmask = loadPicture(QStringLiteral("stabupmask.bmp"));
    hangupsprite = loadPicture(QStringLiteral("hangupsprite.bmp"));
    hangupmask = loadPicture(QStringLiteral("hangupmask.bmp"));
    adjust = loadPicture(QStringLiteral("adjust.bmp"));
    sharpsprite = loadPicture(QStringLiteral("sharpsprite.bmp"));
    sharpmask = loadPicture(QStringLiteral("sharpmask.bmp"));
    flatsprite = loadPicture(QStringLiteral("flatsprite.bmp"));
    flatmask = loadPicture(QStringLiteral("flatmask.bmp"));
    naturalsprite = loadPicture(QStringLiteral("naturalsprite.bmp"));
    naturalmask = loadPicture(QStringLiteral("naturalmask.bmp"));
    ottavaMark = loadPicture(QStringLiteral("ottava.bmp"));
    ottavaMask = loadPicture(QStringLiteral("ottavamask.bmp"));
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
        // Written an octave lower than it is read: the 8va mark over the head.
        blit(surface, drawX + 6, drawY - 20, ottavaMark, ottavaMask, ottavaMark.width(),
             ottavaMark.height());
    }
}

void stavebass::accidents() {
    const int16_t toHead = (spriteType == 3 || spriteType == 4) ? 95 : -6;
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
    surface = stavePicture.copy();
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
