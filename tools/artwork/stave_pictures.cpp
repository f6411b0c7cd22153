// The stave, the note and sign sprites, the 8va mark and the fifteen key pictures.  Everything
// here is pure black on pure white: the stave combines the shapes with AND, then XOR.  Each is
// drawn twice: at its own size, and at twice the size ("name@2x.bmp") for screens at scale 2,
// with every length doubled, so that the window places it at doubled coordinates.

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

// Rows in pictures at scale 1; `scale` doubles them for the 2x pictures.
void drawLines(QImage& picture, const std::vector<int>& topRows, int scale = 1) {
    for (int row : topRows) {
        fillBox(picture, 0, row * scale, picture.width(), 2 * scale, black);
    }
}

QRect scaled(QRect box, int scale) {
    return {box.left() * scale, box.top() * scale, box.width() * scale, box.height() * scale};
}

// The name of a picture's 2x twin: "stave.bmp" -> "stave@2x.bmp".
QString twinName(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
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
    const int half = box.width() > 40 ? 2 : 1; // the 2x head's cross is 4 pixels thick
    fillBox(clipped, box.left(), midRow - half, box.width(), 2 * half, black);
    fillBox(clipped, midCol - half, box.top(), 2 * half, box.height(), black);
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

QImage drawNote(const NoteSprite& sprite, bool withLines, int scale = 1) {
    QImage picture = filled(sprite.width * scale, sprite.height * scale, Qt::white);
    drawHead(picture, scaled(sprite.head, scale));
    fillBox(picture, sprite.stemLeft * scale, sprite.stemTop * scale, 2 * scale,
            (sprite.stemBottom - sprite.stemTop + 1) * scale, black);
    if (withLines) {
        drawLines(picture, sprite.lines, scale);
    }
    return picture;
}

// A sign drawn stroke by stroke at scale 1, at twice the size: its upright strokes and bars stay
// upright and level, so doubling each pixel draws them exactly.
QImage doubled(const QImage& picture) {
    return picture.scaled(picture.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
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
QImage ottavaShape(int scale = 1) {
    return renderBlackWhite(
        24 * scale, 14 * scale,
        [scale](QPainter& p) {
            QFont font("DejaVu Sans");
            font.setPixelSize(12 * scale);
            font.setBold(true);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QRectF(0, -scale, 24 * scale, 15 * scale), Qt::AlignCenter, "8va");
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

// `sharp` and `flat` are the signs at the picture's scale.
QImage drawKey(const KeyPicture& key, const QImage& sharp, const QImage& flat, int scale = 1) {
    // Sharp keys and C sit 8 pixels lower in the window than the flat keys, so their lines lie
    // 8 rows higher in the picture.
    const int topLine = key.flats > 0 ? 66 : 58;
    const int s = scale;
    QImage picture = filled(keyWidth * s, keyHeight * s, Qt::white);
    std::vector<int> rows;
    for (int i = 0; i < 5; ++i) {
        rows.push_back(topLine + i * lineGap);
    }
    drawLines(picture, rows, s);
    const int bottomCentre = topLine + 4 * lineGap + 1; // between the two rows of the bottom line
    const double fLine = bottomCentre - 6 * stepGap;
    const QPainterPath clef = stave::bassClefPath(clefLeft * s, fLine * s, lineGap * s);
    stamp(picture,
          renderBlackWhite(keyWidth * s, keyHeight * s, [&](QPainter& p) { p.drawPath(clef); }), 0,
          0);
    for (int i = 0; i < key.sharps; ++i) {
        const int centre = bottomCentre - sharpSteps[static_cast<size_t>(i)] * stepGap;
        stamp(picture, sharp, (firstSign + i * sharpSpacing) * s,
              (centre - 17) * s); // bars around row 17
    }
    for (int i = 0; i < key.flats; ++i) {
        const int centre = bottomCentre - flatSteps[static_cast<size_t>(i)] * stepGap;
        stamp(picture, flat, (firstSign + i * flatSpacing) * s,
              (centre - 20) * s); // bowl around row 20
    }
    return picture;
}

} // namespace

void drawStavePictures(Output& out) {
    for (int scale : {1, 2}) {
        // Scale 1 under the file's own name, scale 2 under its twin's.
        auto save = [&out, scale](const QImage& picture, const QString& name) {
            out.save(picture, scale == 1 ? name : twinName(name));
        };
        QImage stave = filled(664 * scale, 292 * scale, Qt::white);
        drawLines(stave, {111, 133, 155, 177, 199}, scale);
        save(stave, "stave.bmp");

        for (const NoteSprite& sprite : noteSprites()) {
            save(drawNote(sprite, true, scale), sprite.shapeName);
            save(filled(sprite.width * scale, sprite.height * scale, Qt::black), sprite.colourName);
        }
        save(drawNote(noteSprites()[1], false, scale), "adjust.bmp");

        // The sign sprites are named the other way round: "...mask" is the shape.
        const QImage sharp = scale == 1 ? sharpShape() : doubled(sharpShape());
        const QImage flat = scale == 1 ? flatShape() : doubled(flatShape());
        const QImage natural = scale == 1 ? naturalShape() : doubled(naturalShape());
        save(sharp, "sharpmask.bmp");
        save(filled(sharp.width(), sharp.height(), Qt::black), "sharpsprite.bmp");
        save(flat, "flatmask.bmp");
        save(filled(flat.width(), flat.height(), Qt::black), "flatsprite.bmp");
        save(natural, "naturalmask.bmp");
        save(filled(natural.width(), natural.height(), Qt::black), "naturalsprite.bmp");

        const QImage ottava = ottavaShape(scale);
        save(ottava, "ottava.bmp");
        save(filled(ottava.width(), ottava.height(), Qt::black), "ottavamask.bmp");

        for (const KeyPicture& key : keys) {
            save(drawKey(key, sharp, flat, scale), QString::fromLatin1(key.name) + "key.bmp");
        }
    }
}

// Also used by the intro picture.
QPainterPath bassClef(double left, double fLine, double gap) {
    return stave::bassClefPath(left, fLine, gap);
}

} // namespace artwork
