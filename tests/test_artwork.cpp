// The shipped pictures, checked on the files in the program's folder: sizes, the rows of the
// stave lines, the sprites' heads, stems and lines, the signs' strokes, and the key pictures'
// clef and signs at their bass-clef places.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

QString dataPath(const char* name) {
    return QDir(CLEFWORK_TEST_DATA).filePath(name);
}

QImage load(const char* name) {
    return QImage(dataPath(name)).convertToFormat(QImage::Format_RGB32);
}

bool isBlack(const QImage& p, int x, int y) {
    return (p.pixel(x, y) & 0xffffff) == 0;
}
bool isWhite(const QImage& p, int x, int y) {
    return (p.pixel(x, y) & 0xffffff) == 0xffffff;
}

bool allBlack(const QImage& p) {
    for (int y = 0; y < p.height(); ++y) {
        for (int x = 0; x < p.width(); ++x) {
            if (!isBlack(p, x, y)) {
                return false;
            }
        }
    }
    return true;
}

bool pureBlackWhite(const QImage& p) {
    for (int y = 0; y < p.height(); ++y) {
        for (int x = 0; x < p.width(); ++x) {
            if (!isBlack(p, x, y) && !isWhite(p, x, y)) {
                return false;
            }
        }
    }
    return true;
}

// Rows covered by 2-pixel lines with these top rows.
std::set<int> lineRows(const std::vector<int>& tops) {
    std::set<int> rows;
    for (int t : tops) {
        rows.insert(t);
        rows.insert(t + 1);
    }
    return rows;
}

struct Size {
    const char* file;
    int width;
    int height;
};

class PictureSize : public testing::TestWithParam<Size> {};

TEST_P(PictureSize, FileHasItsSize) {
    const Size s = GetParam();
    const QImage picture(dataPath(s.file));
    ASSERT_FALSE(picture.isNull()) << s.file << " is missing or unreadable";
    EXPECT_EQ(picture.width(), s.width) << s.file;
    EXPECT_EQ(picture.height(), s.height) << s.file;
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, PictureSize,
    testing::Values(
        Size{"stave.bmp", 664, 292}, Size{"stabdownsprite.bmp", 42, 142},
        Size{"stabdownmask.bmp", 42, 142}, Size{"sitdownsprite.bmp", 41, 131},
        Size{"sitdownmask.bmp", 41, 131}, Size{"stabupsprite.bmp", 42, 117},
        Size{"stabupmask.bmp", 42, 117}, Size{"hangupsprite.bmp", 42, 129},
        Size{"hangupmask.bmp", 42, 129}, Size{"adjust.bmp", 41, 131}, Size{"sharpmask.bmp", 11, 35},
        Size{"sharpsprite.bmp", 11, 35}, Size{"flatmask.bmp", 8, 29}, Size{"flatsprite.bmp", 8, 29},
        Size{"naturalmask.bmp", 8, 36}, Size{"naturalsprite.bmp", 8, 36},
        Size{"ottava.bmp", 24, 14}, Size{"ottavamask.bmp", 24, 14}, Size{"Ckey.bmp", 272, 250},
        Size{"Gkey.bmp", 272, 250}, Size{"Dkey.bmp", 272, 250}, Size{"Akey.bmp", 272, 250},
        Size{"Ekey.bmp", 272, 250}, Size{"Bkey.bmp", 272, 250}, Size{"F#key.bmp", 272, 250},
        Size{"C#key.bmp", 272, 250}, Size{"Fkey.bmp", 272, 250}, Size{"Bbkey.bmp", 272, 250},
        Size{"Ebkey.bmp", 272, 250}, Size{"Abkey.bmp", 272, 250}, Size{"Dbkey.bmp", 272, 250},
        Size{"Gbkey.bmp", 272, 250}, Size{"Cbkey.bmp", 272, 250}, Size{"logo.bmp", 234, 85},
        Size{"start.bmp", 40, 32}, Size{"stop.bmp", 40, 32}, Size{"pause.bmp", 40, 32},
        Size{"fretbutton.bmp", 40, 32}, Size{"intro.bmp", 405, 279},
        Size{"aboutlogo.bmp", 179, 253}, Size{"fretboard.bmp", 682, 144},
        Size{"flame.bmp", 768, 512}, Size{"trinity2k2.jpg", 768, 512}, Size{"land1.jpg", 768, 512},
        Size{"3db1.gif", 768, 512}, Size{"industry.jpg", 768, 512}, Size{"hand.bmp", 32, 32},
        Size{"handmask.bmp", 32, 32}));

TEST(Stave, FiveLinesAndNothingElse) {
    const QImage stave = load("stave.bmp");
    ASSERT_FALSE(stave.isNull());
    const std::set<int> rows = lineRows({111, 133, 155, 177, 199});
    for (int x = 0; x < stave.width(); ++x) {
        for (int y = 0; y < stave.height(); ++y) {
            if (rows.count(y) != 0) {
                ASSERT_TRUE(isBlack(stave, x, y)) << x << "," << y;
            } else {
                ASSERT_TRUE(isWhite(stave, x, y)) << x << "," << y;
            }
        }
    }
}

struct NoteSprite {
    const char* shape;
    const char* colour; // nullptr: no colour picture of its own
    int headLeft, headTop, headRight, headBottom;
    int stemLeft, stemTop, stemBottom; // the stem is 2 columns wide
    std::vector<int> lines;
};

class NoteSprites : public testing::TestWithParam<NoteSprite> {};

TEST_P(NoteSprites, LinesHeadAndStemWhereTheStaveExpectsThem) {
    const NoteSprite s = GetParam();
    const QImage shape = load(s.shape);
    ASSERT_FALSE(shape.isNull()) << s.shape;
    ASSERT_TRUE(pureBlackWhite(shape)) << s.shape << " has greys";
    const std::set<int> rows = lineRows(s.lines);
    auto inHead = [&](int x, int y) {
        return x >= s.headLeft && x <= s.headRight && y >= s.headTop && y <= s.headBottom;
    };
    auto inStem = [&](int x, int y) {
        return (x == s.stemLeft || x == s.stemLeft + 1) && y >= s.stemTop && y <= s.stemBottom;
    };
    for (int y = 0; y < shape.height(); ++y) {
        for (int x = 0; x < shape.width(); ++x) {
            if (rows.count(y) != 0 || inStem(x, y)) {
                ASSERT_TRUE(isBlack(shape, x, y)) << s.shape << " " << x << "," << y;
            } else if (!inHead(x, y)) {
                ASSERT_TRUE(isWhite(shape, x, y)) << s.shape << " " << x << "," << y;
            }
        }
    }
    // The head is a filled oval that reaches every side of its box.
    int inked = 0;
    int top = 1000, bottom = -1, left = 1000, right = -1;
    for (int y = s.headTop; y <= s.headBottom; ++y) {
        for (int x = s.headLeft; x <= s.headRight; ++x) {
            if (rows.count(y) != 0 || inStem(x, y) || !isBlack(shape, x, y)) {
                continue;
            }
            ++inked;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    const int area = (s.headRight - s.headLeft + 1) * (s.headBottom - s.headTop + 1);
    EXPECT_GT(inked, area * 55 / 100) << s.shape;
    EXPECT_LT(inked, area * 90 / 100) << s.shape << ": a box, not an oval";
    EXPECT_EQ(top, s.headTop) << s.shape;
    EXPECT_EQ(bottom, s.headBottom) << s.shape;
    EXPECT_LE(left, s.headLeft + 1) << s.shape; // the stem covers the leftmost column of type 1
    EXPECT_EQ(right, s.headRight) << s.shape;
    if (s.colour != nullptr) {
        const QImage colour = load(s.colour);
        EXPECT_EQ(colour.size(), shape.size()) << s.colour;
        EXPECT_TRUE(allBlack(colour)) << s.colour;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, NoteSprites,
    testing::Values(
        NoteSprite{
            "stabdownsprite.bmp", "stabdownmask.bmp", 7, 0, 35, 19, 7, 19, 141, {10, 32, 54, 76}},
        NoteSprite{"sitdownsprite.bmp", "sitdownmask.bmp", 7, 0, 35, 19, 7, 19, 130, {21, 43, 65}},
        NoteSprite{"stabupsprite.bmp", "stabupmask.bmp", 8, 97, 36, 116, 34, 0, 97, {63, 85, 107}},
        NoteSprite{
            "hangupsprite.bmp", "hangupmask.bmp", 8, 110, 36, 128, 34, 0, 110, {64, 86, 108}},
        // adjust: the head and stem of type 2 and no lines at all.
        NoteSprite{"adjust.bmp", nullptr, 7, 0, 35, 19, 7, 19, 130, {}}));

// Columns of a sign that hold black pixels in the given rows.
bool columnBlack(const QImage& p, int x, int fromRow, int toRow) {
    for (int y = fromRow; y <= toRow; ++y) {
        if (!isBlack(p, x, y)) {
            return false;
        }
    }
    return true;
}

bool anyBlack(const QImage& p, int x, int fromRow, int toRow) {
    for (int y = fromRow; y <= toRow; ++y) {
        if (isBlack(p, x, y)) {
            return true;
        }
    }
    return false;
}

TEST(SignSprites, ColourPicturesAreBlackAndShapesPure) {
    const std::pair<const char*, const char*> pairs[] = {{"sharpmask.bmp", "sharpsprite.bmp"},
                                                         {"flatmask.bmp", "flatsprite.bmp"},
                                                         {"naturalmask.bmp", "naturalsprite.bmp"},
                                                         {"ottava.bmp", "ottavamask.bmp"}};
    for (const auto& [shapeName, colourName] : pairs) {
        const QImage shape = load(shapeName);
        const QImage colour = load(colourName);
        ASSERT_FALSE(shape.isNull()) << shapeName;
        EXPECT_TRUE(pureBlackWhite(shape)) << shapeName;
        EXPECT_FALSE(allBlack(shape)) << shapeName << " must be a figure on white";
        EXPECT_EQ(colour.size(), shape.size()) << colourName;
        EXPECT_TRUE(allBlack(colour)) << colourName;
    }
}

TEST(SignSprites, SharpHasTwoThinUprightsAndTwoRisingBars) {
    const QImage sharp = load("sharpmask.bmp");
    ASSERT_EQ(sharp.size(), QSize(11, 35));
    EXPECT_TRUE(columnBlack(sharp, 3, 4, 32));
    EXPECT_TRUE(columnBlack(sharp, 8, 2, 30));
    for (int y = 0; y < 35; ++y) {
        for (int x : {2, 4, 7, 9}) {
            const bool inBars = (y >= 7 && y <= 14) || (y >= 19 && y <= 26);
            if (!inBars) {
                EXPECT_TRUE(isWhite(sharp, x, y)) << "strokes are 1 pixel wide: " << x << "," << y;
            }
        }
    }
    for (int x = 0; x < 11; ++x) {
        EXPECT_TRUE(anyBlack(sharp, x, 7, 14)) << "upper bar, column " << x;
        EXPECT_TRUE(anyBlack(sharp, x, 19, 26)) << "lower bar, column " << x;
    }
    // Rising to the right: the bars' top rows are higher at the right end.
    auto topOfBar = [&](int x, int from) {
        for (int y = from; y < 35; ++y) {
            if (isBlack(sharp, x, y)) {
                return y;
            }
        }
        return 35;
    };
    EXPECT_LT(topOfBar(10, 5), topOfBar(0, 5));
    EXPECT_LT(topOfBar(10, 17), topOfBar(0, 17));
}

TEST(SignSprites, FlatHasAnUprightAndAClosedBowl) {
    const QImage flat = load("flatmask.bmp");
    ASSERT_EQ(flat.size(), QSize(8, 29));
    EXPECT_TRUE(columnBlack(flat, 0, 0, 28));
    EXPECT_TRUE(columnBlack(flat, 1, 0, 28));
    for (int x = 2; x < 8; ++x) {
        for (int y = 0; y < 29; ++y) {
            if (y < 13 || y > 27) {
                EXPECT_TRUE(isWhite(flat, x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_TRUE(anyBlack(flat, 7, 13, 27)) << "the bowl reaches the right edge";
    // Closed: some white pixel inside the bowl cannot reach the border through white pixels.
    std::vector<char> outside(8 * 29, 0);
    std::vector<QPoint> todo;
    for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 8; ++x) {
            if ((x == 0 || y == 0 || x == 7 || y == 28) && isWhite(flat, x, y)) {
                outside[y * 8 + x] = 1;
                todo.push_back({x, y});
            }
        }
    }
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        for (QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            const QPoint q = p + d;
            if (q.x() >= 0 && q.y() >= 0 && q.x() < 8 && q.y() < 29 &&
                isWhite(flat, q.x(), q.y()) && outside[q.y() * 8 + q.x()] == 0) {
                outside[q.y() * 8 + q.x()] = 1;
                todo.push_back(q);
            }
        }
    }
    int enclosed = 0;
    for (int y = 13; y <= 27; ++y) {
        for (int x = 2; x < 8; ++x) {
            enclosed += isWhite(flat, x, y) && outside[y * 8 + x] == 0 ? 1 : 0;
        }
    }
    EXPECT_GE(enclosed, 4);
}

TEST(SignSprites, NaturalHasOffsetUprightsJoinedByTwoBars) {
    const QImage natural = load("naturalmask.bmp");
    ASSERT_EQ(natural.size(), QSize(8, 36));
    EXPECT_TRUE(columnBlack(natural, 0, 0, 28));
    EXPECT_TRUE(columnBlack(natural, 1, 0, 28));
    EXPECT_FALSE(anyBlack(natural, 0, 29, 35));
    EXPECT_TRUE(columnBlack(natural, 7, 6, 35));
    EXPECT_FALSE(anyBlack(natural, 7, 0, 5));
    for (int x = 2; x < 7; ++x) {
        int bands = 0;
        for (int y = 0; y < 36; ++y) {
            if (isBlack(natural, x, y) && (y == 0 || !isBlack(natural, x, y - 1))) {
                ++bands;
            }
        }
        EXPECT_EQ(bands, 2) << "column " << x;
    }
}

// A key picture: its signs (0 for C) and, for each in order, its scale step above the bottom line
// (0 the bottom line, 1 the first space, ..., 8 the top line) in bass clef.
struct Key {
    const char* file;
    bool flats;
    std::vector<int> steps;
};

class KeyPictures : public testing::TestWithParam<Key> {};

TEST_P(KeyPictures, BassClefAndSignsOnTheirLines) {
    const Key k = GetParam();
    const QImage key = load(k.file);
    ASSERT_FALSE(key.isNull()) << k.file;
    ASSERT_TRUE(pureBlackWhite(key)) << k.file;
    const int top = k.flats ? 66 : 58;
    std::vector<int> tops;
    for (int i = 0; i < 5; ++i) {
        tops.push_back(top + 22 * i);
    }
    const std::set<int> rows = lineRows(tops);
    for (int y : rows) {
        int ink = 0;
        for (int x = 0; x < key.width(); ++x) {
            ink += isBlack(key, x, y) ? 1 : 0;
        }
        EXPECT_EQ(ink, key.width()) << k.file << ": line row " << y;
    }
    // At the left edge of the window and at the right end only the lines are drawn.
    for (int x : {56, 60, 262, 271}) {
        for (int y = 0; y < key.height(); ++y) {
            EXPECT_EQ(isBlack(key, x, y), rows.count(y) != 0) << k.file << " " << x << "," << y;
        }
    }
    // The clef, right of column 56, reaches over the top line and down near the second line,
    // with its dots either side of the fourth line.
    int clefInk = 0;
    int clefTop = 1000, clefBottom = -1;
    for (int y = 0; y < key.height(); ++y) {
        for (int x = 62; x < 130; ++x) {
            if (rows.count(y) == 0 && isBlack(key, x, y)) {
                ++clefInk;
                clefTop = std::min(clefTop, y);
                clefBottom = std::max(clefBottom, y);
            }
        }
    }
    const int fLine = top + 22 + 1;
    EXPECT_GT(clefInk, 400) << k.file;
    EXPECT_LT(clefTop, top) << k.file;
    EXPECT_GE(clefBottom, fLine + 50) << k.file;
    EXPECT_LE(clefBottom, fLine + 66) << k.file;

    // Signs: runs of columns right of the clef with ink off the lines.
    struct Blob {
        int top = 1000;
        int bottom = -1;
    };
    std::vector<Blob> blobs;
    bool inBlob = false;
    for (int x = 131; x < key.width(); ++x) {
        Blob column;
        for (int y = 0; y < key.height(); ++y) {
            if (rows.count(y) == 0 && isBlack(key, x, y)) {
                column.top = std::min(column.top, y);
                column.bottom = std::max(column.bottom, y);
            }
        }
        if (column.bottom < 0) {
            inBlob = false;
            continue;
        }
        if (!inBlob) {
            blobs.push_back(column);
            inBlob = true;
        } else {
            blobs.back().top = std::min(blobs.back().top, column.top);
            blobs.back().bottom = std::max(blobs.back().bottom, column.bottom);
        }
    }
    ASSERT_EQ(blobs.size(), k.steps.size()) << k.file;
    const int bottomLine = top + 88 + 1;
    for (size_t i = 0; i < blobs.size(); ++i) {
        const int centre = bottomLine - 11 * k.steps[i];
        if (k.flats) {
            // The flat's bowl sits on its line or space: its foot is about 7 rows below.
            EXPECT_NEAR(blobs[i].bottom, centre + 7, 3) << k.file << " flat " << i;
        } else {
            EXPECT_NEAR((blobs[i].top + blobs[i].bottom) / 2.0, centre, 3)
                << k.file << " sharp " << i;
        }
    }
}

// Bass clef, bottom line G: sharps F C G D A E B on 6 3 7 4 1 5 2, flats B E A D G C F on
// 2 5 1 4 0 3 -1.
const std::vector<int> sharps{6, 3, 7, 4, 1, 5, 2};
const std::vector<int> flats{2, 5, 1, 4, 0, 3, -1};
std::vector<int> first(const std::vector<int>& all, size_t n) {
    return std::vector<int>(all.begin(), all.begin() + static_cast<long>(n));
}

INSTANTIATE_TEST_SUITE_P(
    AllFifteen, KeyPictures,
    testing::Values(
        Key{"Ckey.bmp", false, {}}, Key{"Gkey.bmp", false, first(sharps, 1)},
        Key{"Dkey.bmp", false, first(sharps, 2)}, Key{"Akey.bmp", false, first(sharps, 3)},
        Key{"Ekey.bmp", false, first(sharps, 4)}, Key{"Bkey.bmp", false, first(sharps, 5)},
        Key{"F#key.bmp", false, first(sharps, 6)}, Key{"C#key.bmp", false, first(sharps, 7)},
        Key{"Fkey.bmp", true, first(flats, 1)}, Key{"Bbkey.bmp", true, first(flats, 2)},
        Key{"Ebkey.bmp", true, first(flats, 3)}, Key{"Abkey.bmp", true, first(flats, 4)},
        Key{"Dbkey.bmp", true, first(flats, 5)}, Key{"Gbkey.bmp", true, first(flats, 6)},
        Key{"Cbkey.bmp", true, first(flats, 7)}));

// The 2x twin of a picture, shrunk back by 2 x 2 blocks (black where at least two of the four
// are): how many of its pixels differ from the picture at scale 1.
int differingAfterShrinking(const QImage& twin, const QImage& picture) {
    int differ = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const int inked =
                int(isBlack(twin, 2 * x, 2 * y)) + int(isBlack(twin, 2 * x + 1, 2 * y)) +
                int(isBlack(twin, 2 * x, 2 * y + 1)) + int(isBlack(twin, 2 * x + 1, 2 * y + 1));
            differ += (inked >= 2) != isBlack(picture, x, y) ? 1 : 0;
        }
    }
    return differ;
}

struct Twin {
    const char* file;
    int percent; // how many of its black pixels may differ once shrunk back
};

class Twins : public testing::TestWithParam<Twin> {};

TEST_P(Twins, AtScaleTwoTheSamePictureWithEveryLengthDoubled) {
    const QString name = QString::fromLatin1(GetParam().file);
    const QImage picture = load(GetParam().file);
    const QString twinName = name.left(name.lastIndexOf('.')) + "@2x.bmp";
    const QImage twin =
        QImage(dataPath(twinName.toLatin1().constData())).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(picture.isNull());
    ASSERT_FALSE(twin.isNull()) << twinName.toStdString() << " is missing";
    ASSERT_EQ(twin.size(), picture.size() * 2);
    ASSERT_TRUE(pureBlackWhite(twin)) << "for the AND and XOR of the stave";
    // A line across the picture (stave, ledger and key lines) is a line twice as thick.
    for (int y = 0; y < picture.height(); ++y) {
        bool line = true;
        for (int x = 0; x < picture.width() && line; ++x) {
            line = isBlack(picture, x, y);
        }
        if (!line) {
            continue;
        }
        for (int x = 0; x < twin.width(); ++x) {
            ASSERT_TRUE(isBlack(twin, x, 2 * y) && isBlack(twin, x, 2 * y + 1))
                << "row " << y << " column " << x;
        }
    }
    // Everything else in the same places: heads, stems, signs, the clef.
    int inked = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            inked += isBlack(picture, x, y) ? 1 : 0;
        }
    }
    EXPECT_LE(differingAfterShrinking(twin, picture), std::max(4, inked * GetParam().percent / 100))
        << "of " << inked << " black pixels";
}

INSTANTIATE_TEST_SUITE_P(Shipped, Twins,
                         // The 8va text is set at twice the font size, whose hinting
                         // moves a few of its edges.
                         testing::Values(Twin{"stave.bmp", 4}, Twin{"stabdownsprite.bmp", 4},
                                         Twin{"stabdownmask.bmp", 4}, Twin{"sitdownsprite.bmp", 4},
                                         Twin{"sitdownmask.bmp", 4}, Twin{"stabupsprite.bmp", 4},
                                         Twin{"stabupmask.bmp", 4}, Twin{"hangupsprite.bmp", 4},
                                         Twin{"hangupmask.bmp", 4}, Twin{"adjust.bmp", 4},
                                         Twin{"sharpmask.bmp", 4}, Twin{"sharpsprite.bmp", 4},
                                         Twin{"flatmask.bmp", 4}, Twin{"flatsprite.bmp", 4},
                                         Twin{"naturalmask.bmp", 4}, Twin{"naturalsprite.bmp", 4},
                                         Twin{"ottava.bmp", 20}, Twin{"ottavamask.bmp", 4},
                                         Twin{"Ckey.bmp", 4}, Twin{"Gkey.bmp", 4},
                                         Twin{"C#key.bmp", 4}, Twin{"Fkey.bmp", 4},
                                         Twin{"Cbkey.bmp", 4}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             for (char& c : name) {
                                 c = c == '#' ? 's' : c;
                             }
                             return name;
                         });

// Bits per pixel from a BMP file's header.
int bmpBitsPerPixel(const char* name) {
    QFile file(dataPath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray header = file.read(30);
    if (header.size() < 30 || !header.startsWith("BM")) {
        return -1;
    }
    return static_cast<unsigned char>(header[28]) | (static_cast<unsigned char>(header[29]) << 8);
}

TEST(WindowPictures, IntroAndChartAre24Bit) {
    EXPECT_EQ(bmpBitsPerPixel("intro.bmp"), 24);
    EXPECT_EQ(bmpBitsPerPixel("fretboard.bmp"), 24);
}

TEST(WindowPictures, ButtonsShowASymbolOnALightBlueFace) {
    for (const char* name : {"start.bmp", "stop.bmp", "pause.bmp", "fretbutton.bmp"}) {
        const QImage button = load(name);
        ASSERT_FALSE(button.isNull()) << name;
        int face = 0;
        for (int y = 0; y < button.height(); ++y) {
            for (int x = 0; x < button.width(); ++x) {
                face += (button.pixel(x, y) & 0xffffff) == 0xc0c0ff ? 1 : 0;
            }
        }
        const int all = button.width() * button.height();
        EXPECT_EQ(button.pixel(0, 0) & 0xffffff, 0xc0c0ffu) << name;
        EXPECT_GT(face, all / 3) << name;
        EXPECT_LT(face, all * 95 / 100) << name << " shows no symbol";
    }
}

TEST(WindowPictures, CorporateGifReadsBackWithAtMost256Colours) {
    const QImage gif = load("3db1.gif");
    ASSERT_EQ(gif.size(), QSize(768, 512));
    QSet<QRgb> colours;
    for (int y = 0; y < gif.height(); ++y) {
        for (int x = 0; x < gif.width(); ++x) {
            colours.insert(gif.pixel(x, y));
        }
    }
    EXPECT_LE(colours.size(), 256);
    EXPECT_GT(colours.size(), 4) << "a pattern, not a flat fill";
}

TEST(WindowPictures, HandPointsWithItsFingerTipAtTheHotSpot) {
    const QImage hand = load("hand.bmp");
    const QImage mask = load("handmask.bmp");
    ASSERT_TRUE(pureBlackWhite(hand));
    ASSERT_TRUE(pureBlackWhite(mask));
    EXPECT_TRUE(isBlack(mask, 9, 3)) << "the hot spot is on the cursor";
    int topmost = 100;
    int opaque = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (isBlack(mask, x, y)) {
                topmost = std::min(topmost, y);
                ++opaque;
            } else {
                EXPECT_TRUE(isWhite(hand, x, y)) << "ink outside the mask at " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(topmost, 3) << "the finger tip is the top of the cursor";
    EXPECT_TRUE(isBlack(hand, 9, 3)) << "outlined at the tip";
    EXPECT_TRUE(isWhite(hand, 9, 8)) << "white inside the finger";
    EXPECT_GT(opaque, 150);
}

} // namespace
