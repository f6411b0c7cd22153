// The stave, the note and sign sprites, the 8va mark and the fifteen key pictures.  Everything
// here is pure black on pure white: the stave combines the shapes with AND, then XOR.

#include "artwork.h"
#include "canvas.h"
#include "stave/bassclef.h"

#include <QFont>
#include <QPainterPath>
#include <array>
#include <vector>

namespace artwork {
namespace {

const QColor black(0, 0, 0);

// Stave lines are 2 pixels thick, 22 pixels apart; a scale step is 11 pixels.
constexpr int lineGap = 22;
constexpr int stepGap = 11;

void drawLines(QImage& picture, const std::vector<int>& topRows) {
    for (int row : topRows) {
        fillBox(picture, 0, row, picture.width(), 2, black);
    }
}

// A filled note head, tilted a little as engraved heads are, touching every side of its box.
void drawHead(QImage& picture, QRect box) {
    QPainterPath oval;
    oval.addEllipse(QPointF(0, 0), 15.0, 9.5);
    QTransform tilt;
    tilt.rotate(-22);
    const QPainterPath tilted = tilt.map(oval);
    const QRectF bounds = tilted.boundingRect();
    QTransform fit;
    fit.translate(box.left(), box.top());
    fit.scale((box.width()) / bounds.width(), (box.height()) / bounds.height());
    fit.translate(-bounds.left(), -bounds.top());
    const QPainterPath head = fit.map(tilted);
    const QImage shape =
        renderBlackWhite(picture.width(), picture.height(), [&](QPainter& p) { p.drawPath(head); });
    // Keep the head strictly inside its box, and make sure it reaches each side of it.
    QImage clipped = filled(picture.width(), picture.height(), Qt::white);
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            clipped.setPixel(x, y, shape.pixel(x, y));
        }
    }
    const int midRow = box.top() + box.height() / 2;
    const int midCol = box.left() + box.width() / 2;
    fillBox(clipped, box.left(), midRow - 1, box.width(), 2, black);
    fillBox(clipped, midCol - 1, box.top(), 2, box.height(), black);
    stamp(picture, clipped, 0, 0);
}

struct NoteSprite {
    const char* shapeName;
    const char* colourName;
    int width;
    int height;
    QRect head;   // rows and columns of the head box
    int stemLeft; // the stem is 2 columns wide
    int stemTop;  // rows of the stem, inclusive
    int stemBottom;
    std::vector<int> lines; // top rows of its 2-pixel lines
};

// The stem starts (or ends) at the middle of the head, so the two always touch.
const std::array<NoteSprite, 4>& noteSprites() {
    static const std::array<NoteSprite, 4> sprites{{
        {"stabdownsprite.bmp",
         "stabdownmask.bmp",
         42,
         142,
         QRect(7, 0, 29, 20),
         7,
         10,
         141,
         {10, 32, 54, 76}},
        {"sitdownsprite.bmp",
         "sitdownmask.bmp",
         41,
         131,
         QRect(7, 0, 29, 20),
         7,
         10,
         130,
         {21, 43, 65}},
        {"stabupsprite.bmp",
         "stabupmask.bmp",
         42,
         117,
         QRect(8, 97, 29, 20),
         34,
         0,
         106,
         {63, 85, 107}},
        {"hangupsprite.bmp",
         "hangupmask.bmp",
         42,
         129,
         QRect(8, 110, 29, 19),
         34,
         0,
         119,
         {64, 86, 108}},
    }};
    return sprites;
}

QImage drawNote(const NoteSprite& sprite, bool withLines) {
    QImage picture = filled(sprite.width, sprite.height, Qt::white);
    drawHead(picture, sprite.head);
    fillBox(picture, sprite.stemLeft, sprite.stemTop, 2, sprite.stemBottom - sprite.stemTop + 1,
            black);
    if (withLines) {
        drawLines(picture, sprite.lines);
    }
    return picture;
}

} // namespace

// Sharp, 11 x 35: upright strokes in columns 3 and 8 (the right one a little higher), crossed by
// two bars 5 pixels thick that rise 3 pixels from left to right.
QImage sharpShape() {
    QImage picture = filled(11, 35, Qt::white);
    fillBox(picture, 3, 2, 1, 33, black);
    fillBox(picture, 8, 0, 1, 33, black);
    for (int x = 0; x < 11; ++x) {
        const int rise = (3 * x + 5) / 10;
        fillBox(picture, x, 10 - rise, 1, 5, black);
        fillBox(picture, x, 22 - rise, 1, 5, black);
    }
    return picture;
}

// Flat, 8 x 29: an upright in columns 0-1 over the whole height and a closed, hollow bowl to its
// right in rows 13-27, drawn pixel by pixel ('#' black).
QImage flatShape() {
    static const char* const bowl[] = {
        "##..##..", "##.#####", "####..##", "###...##", "##....##",
        "##...##.", "##...##.", "##..##..", "##..##..", "##.##...",
        "##.##...", "####....", "####....", "###.....", "###.....",
    };
    QImage picture = filled(8, 29, Qt::white);
    fillBox(picture, 0, 0, 2, 29, black);
    for (int row = 0; row < 15; ++row) {
        for (int x = 0; x < 8; ++x) {
            if (bowl[row][x] == '#') {
                picture.setPixel(x, 13 + row, black.rgb());
            }
        }
    }
    return picture;
}

// Natural, 8 x 36: a left upright in columns 0-1 (rows 0-28), a right upright in column 7 (rows
// 6-35), joined by two bars 4 pixels thick that rise 3 pixels to the right.
QImage naturalShape() {
    QImage picture = filled(8, 36, Qt::white);
    fillBox(picture, 0, 0, 2, 29, black);
    fillBox(picture, 7, 6, 1, 30, black);
    for (int x = 0; x < 8; ++x) {
        const int rise = (3 * x + 3) / 7;
        fillBox(picture, x, 10 - rise, 1, 4, black);
        fillBox(picture, x, 24 - rise, 1, 4, black);
    }
    return picture;
}

namespace {

// "8va", small and bold, for notes written an octave away from where they are read.
QImage ottavaShape() {
    return renderBlackWhite(
        24, 14,
        [](QPainter& p) {
            QFont font("DejaVu Sans");
            font.setPixelSize(12);
            font.setBold(true);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QRectF(0, -1, 24, 15), Qt::AlignCenter, "8va");
        },
        4);
}

struct KeyPicture {
    const char* name;
    int sharps;
    int flats;
};

constexpr std::array<KeyPicture, 15> keys{{{"C", 0, 0},
                                           {"G", 1, 0},
                                           {"D", 2, 0},
                                           {"A", 3, 0},
                                           {"E", 4, 0},
                                           {"B", 5, 0},
                                           {"F#", 6, 0},
                                           {"C#", 7, 0},
                                           {"F", 0, 1},
                                           {"Bb", 0, 2},
                                           {"Eb", 0, 3},
                                           {"Ab", 0, 4},
                                           {"Db", 0, 5},
                                           {"Gb", 0, 6},
                                           {"Cb", 0, 7}}};

// Scale steps above the bottom line (0 the bottom line, 1 the first space, 8 the top line) of the
// signs in bass clef: sharps F C G D A E B, flats B E A D G C F.
constexpr std::array<int, 7> sharpSteps{6, 3, 7, 4, 1, 5, 2};
constexpr std::array<int, 7> flatSteps{2, 5, 1, 4, 0, 3, -1};

constexpr int keyWidth = 272;
constexpr int keyHeight = 250;
constexpr int clefLeft = 74;
constexpr int firstSign = 138;
constexpr int sharpSpacing = 13;
constexpr int flatSpacing = 12;

QImage drawKey(const KeyPicture& key, const QImage& sharp, const QImage& flat) {
    // Sharp keys and C sit 8 pixels lower in the window than the flat keys, so their lines lie
    // 8 rows higher in the picture.
    const int topLine = key.flats > 0 ? 66 : 58;
    QImage picture = filled(keyWidth, keyHeight, Qt::white);
    std::vector<int> rows;
    for (int i = 0; i < 5; ++i) {
        rows.push_back(topLine + i * lineGap);
    }
    drawLines(picture, rows);
    const int bottomCentre = topLine + 4 * lineGap + 1; // between the two rows of the bottom line
    const double fLine = bottomCentre - 6 * stepGap;
    const QPainterPath clef = stave::bassClefPath(clefLeft, fLine, lineGap);
    stamp(picture, renderBlackWhite(keyWidth, keyHeight, [&](QPainter& p) { p.drawPath(clef); }), 0,
          0);
    for (int i = 0; i < key.sharps; ++i) {
        const int centre = bottomCentre - sharpSteps[static_cast<size_t>(i)] * stepGap;
        stamp(picture, sharp, firstSign + i * sharpSpacing, centre - 17); // bars around row 17
    }
    for (int i = 0; i < key.flats; ++i) {
        const int centre = bottomCentre - flatSteps[static_cast<size_t>(i)] * stepGap;
        stamp(picture, flat, firstSign + i * flatSpacing, centre - 20); // bowl around row 20
    }
    return picture;
}

} // namespace

void drawStavePictures(Output& out) {
    QImage stave = filled(664, 292, Qt::white);
    drawLines(stave, {111, 133, 155, 177, 199});
    out.save(stave, "stave.bmp");

    for (const NoteSprite& sprite : noteSprites()) {
        out.save(drawNote(sprite, true), sprite.shapeName);
        out.save(filled(sprite.width, sprite.height, Qt::black), sprite.colourName);
    }
    out.save(drawNote(noteSprites()[1], false), "adjust.bmp");

    // The sign sprites are named the other way round: "...mask" is the shape.
    const QImage sharp = sharpShape();
    const QImage flat = flatShape();
    const QImage natural = naturalShape();
    out.save(sharp, "sharpmask.bmp");
    out.save(filled(sharp.width(), sharp.height(), Qt::black), "sharpsprite.bmp");
    out.save(flat, "flatmask.bmp");
    out.save(filled(flat.width(), flat.height(), Qt::black), "flatsprite.bmp");
    out.save(natural, "naturalmask.bmp");
    out.save(filled(natural.width(), natural.height(), Qt::black), "naturalsprite.bmp");

    const QImage ottava = ottavaShape();
    out.save(ottava, "ottava.bmp");
    out.save(filled(ottava.width(), ottava.height(), Qt::black), "ottavamask.bmp");

    for (const KeyPicture& key : keys) {
        out.save(drawKey(key, sharp, flat), QString::fromLatin1(key.name) + "key.bmp");
    }
}

// Also used by the intro picture.
QPainterPath bassClef(double left, double fLine, double gap) {
    return stave::bassClefPath(left, fLine, gap);
}

} // namespace artwork
