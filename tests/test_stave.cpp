// The notes on the stave, read back from the pixels of the kept drawing surface: the sprites'
// lines against the stave's lines, the bars' places, the signs, the 8va mark, and every note of
// generated bars on the line or space where a bass player reads its name.
#include "platform/appdir.h"
#include "stave/stave_table.h"
#include "support/window_fixture.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using testing_support::WindowTest;

constexpr int kLeft = stavebass::kStaveLeft;
constexpr int kTop = stavebass::kStaveTop;
constexpr int kStaveBottom = kTop + 292; // first window row below the surface
constexpr int kStaveRight = kLeft + 664;

// The stave's lines, top row of each (2 rows thick).
constexpr int kStaveLines[5] = {146, 168, 190, 212, 234};

struct Laid {
    std::string name;
    int16_t type = 0;
    int16_t height = 0;
    int16_t sign = 0;
    bool ottava = false;
};

class Stave : public WindowTest {
protected:
    stavebass& w() { return *window; }

    void SetUp() override {
        WindowTest::SetUp();
        makeWindow();
        clearBars();
    }

    void clearBars() {
        for (std::size_t p = 1; p <= 4; ++p) {
            layNext(p, Laid{});
            layCurrent(p, Laid{});
        }
    }
    // A waiting-bar note, as createbar1 leaves it.
    void layNext(std::size_t p, const Laid& n) {
        w().nextBar[p] = n.name;
        w().nextBarCopy[p] = n.name;
        w().nextBarLayout[PracticeState::kType][p] = n.type;
        w().nextBarLayout[PracticeState::kHeight][p] = n.height;
        w().nextBarLayout[PracticeState::kSign][p] = n.sign;
        w().nextBarOttava[p] = n.ottava;
    }
    // A note of the bar being played, as createbar2 leaves it.  The waiting bar must have been
    // laid out for anything to be drawn, so its first name is set as well.
    void layCurrent(std::size_t p, const Laid& n) {
        w().currentBar[p] = n.name;
        w().currentBarLayout[PracticeState::kType][p] = n.type;
        w().currentBarLayout[PracticeState::kHeight][p] = n.height;
        w().currentBarLayout[PracticeState::kSign][p] = n.sign;
        w().currentBarOttava[p] = n.ottava;
        if (w().nextBarCopy[1].empty()) {
            w().nextBarCopy[1] = "E1";
        }
    }
    // Draws one note alone at the first place of the bar being played and returns the surface.
    QImage drawAlone(const Laid& n, std::size_t p = 1, bool waiting = false) {
        clearBars();
        if (waiting) {
            layNext(p, n);
        } else {
            layCurrent(p, n);
        }
        w().drawbars();
        return w().surface.copy();
    }

    // Pixels at window coordinates.
    QRgb at(int x, int y) const { return window->surface.pixel(x - kLeft, y - kTop) & 0xffffff; }
    bool black(int x, int y) const { return at(x, y) == 0x000000; }
    bool white(int x, int y) const { return at(x, y) == 0xffffff; }
};

QRgb px(const QImage& img, int x, int y) {
    return img.pixel(x - kLeft, y - kTop) & 0xffffff;
}

bool isStaveLineRow(int y) {
    for (int line : kStaveLines) {
        if (y == line || y == line + 1) {
            return true;
        }
    }
    return false;
}

// A test name from a note name and its sign: "Fs1_sign1".
std::string testName(std::string name, int sign) {
    for (char& ch : name) {
        ch = ch == '#' ? 's' : ch;
    }
    return name + "_sign" + std::to_string(sign);
}

// ---- what is drawn and when ----

// The bar lines: 2 columns wide, from the top line's top row to the bottom line's bottom row.
constexpr int kBarLines[2] = {445, 878};
constexpr int kTopLine = 146;
constexpr int kBottomLine = 235;

bool onBarLine(int x, int y) {
    for (int line : kBarLines) {
        if (x >= line && x < line + 2 && y >= kTopLine && y <= kBottomLine) {
            return true;
        }
    }
    return false;
}

TEST_F(Stave, TheSurfaceStartsAsTheShippedStaveWithItsBarLines) {
    QImage shipped(platform::appFile(QStringLiteral("stave.bmp")));
    ASSERT_FALSE(shipped.isNull());
    shipped = shipped.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(w().surface.size(), shipped.size());
    EXPECT_EQ(w().surface, w().stavePicture);
    for (int y = kTop; y < kStaveBottom; ++y) {
        EXPECT_EQ(black(500, y), isStaveLineRow(y)) << "row " << y;
        for (int x = kLeft; x < kStaveRight; ++x) {
            const QRgb expected = onBarLine(x, y) ? 0u : px(shipped, x, y);
            ASSERT_EQ(at(x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(Stave, NoNoteSignOrMarkTouchesABarLine) {
    // Every place the stave table knows, with every sign, at all eight places of the two bars:
    // the bar lines and the column either side of each stay as the bare stave has them.  The
    // lines are found on the bare stave: the columns black from the top line to the bottom line.
    std::vector<int> lines;
    for (int x = kLeft; x < kStaveRight; ++x) {
        bool upright = true;
        for (int y = kTopLine; y <= kBottomLine && upright; ++y) {
            upright = px(w().stavePicture, x, y) == 0u;
        }
        if (upright && (lines.empty() || lines.back() + 1 < x)) {
            lines.push_back(x);
        }
    }
    ASSERT_EQ(lines.size(), 2u) << "one between the bars, one at the end";
    int drawn = 0;
    for (const char letter : std::string("CDEFGAB")) {
        for (const std::string accidental : {"", "#", "b"}) {
            for (const char digit : std::string("0123")) {
                const std::string name = letter + accidental + digit;
                const auto place = staveLookup(name);
                if (!place) {
                    continue;
                }
                for (int16_t sign = 1; sign <= 3; ++sign) {
                    SCOPED_TRACE(name + " sign " + std::to_string(sign));
                    const Laid note{name, place->type, place->height, sign, place->ottava};
                    for (std::size_t p = 1; p <= 4; ++p) {
                        layNext(p, note);
                        layCurrent(p, note);
                    }
                    w().drawbars();
                    ASSERT_NE(w().surface, w().stavePicture);
                    for (int line : lines) {
                        for (int x = line - 1; x <= std::min(line + 2, kStaveRight - 1); ++x) {
                            for (int y = kTop; y < kStaveBottom; ++y) {
                                ASSERT_EQ(at(x, y), px(w().stavePicture, x, y)) << x << "," << y;
                            }
                        }
                    }
                    ++drawn;
                }
            }
        }
    }
    EXPECT_GT(drawn, 150); // E0 to B2 and the 8va notes, each natural, sharp and flat
}

TEST_F(Stave, AtScaleTwoTheSameBarsAtTwiceTheSize) {
    const Laid waiting[5] = {
        {}, {"F#1", 1, 158, 1}, {"Bb0", 3, 105, 2}, {"B2", 1, 48, 0}, {"C#2", 1, 114, 1, true}};
    const Laid playing[5] = {
        {}, {"E0", 3, 149, 3}, {"A2", 2, 60, 0}, {"D0", 1, 180, 2}, {"G1", 2, 147, 0}};
    auto draw = [&] {
        clearBars();
        for (std::size_t p = 1; p <= 4; ++p) {
            layNext(p, waiting[p]);
            layCurrent(p, playing[p]);
        }
        w().drawbars();
        return w().surface.copy();
    };
    ASSERT_EQ(w().staveScale, 1);
    const QImage one = draw();

    window.reset();
    stavebass::forcedStaveScale = 2;
    makeWindow();
    stavebass::forcedStaveScale = 0;
    ASSERT_EQ(w().staveScale, 2);
    const QImage two = draw();
    ASSERT_EQ(two.size(), QSize(2 * 664, 2 * 292));
    EXPECT_EQ(two.devicePixelRatio(), 2.0) << "painted at the stave's own size";
    auto black2 = [&](int x, int y) { return (two.pixel(x, y) & 0xffffff) == 0; };
    // The lines at doubled places, twice as thick.
    for (int y = 2 * (kTopLine - kTop); y < 2 * (kBottomLine + 1 - kTop); ++y) {
        for (int line : kBarLines) {
            for (int dx = 0; dx < 4; ++dx) {
                ASSERT_TRUE(black2(2 * (line - kLeft) + dx, y)) << line << " row " << y;
            }
        }
    }
    for (int row : kStaveLines) {
        for (int dy = 0; dy < 4; ++dy) {
            EXPECT_TRUE(black2(2 * (500 - kLeft), 2 * (row - kTop) + dy)) << row;
        }
    }
    // Notes, signs and marks where they are at scale 1: shrunk back by 2 x 2 blocks, all but a
    // few edge pixels of the heads agree.
    int inked = 0;
    int differ = 0;
    for (int y = 0; y < one.height(); ++y) {
        for (int x = 0; x < one.width(); ++x) {
            const bool b = (one.pixel(x, y) & 0xffffff) == 0;
            const int n = int(black2(2 * x, 2 * y)) + int(black2(2 * x + 1, 2 * y)) +
                          int(black2(2 * x, 2 * y + 1)) + int(black2(2 * x + 1, 2 * y + 1));
            inked += b ? 1 : 0;
            differ += (n >= 2) != b ? 1 : 0;
        }
    }
    EXPECT_LE(differ, inked / 25) << "of " << inked << " black pixels";
    // The key picture's twin, shown at the picture's size.
    EXPECT_EQ(w().key->pixmap().devicePixelRatio(), 2.0);
    EXPECT_EQ(w().key->width(), 272);
}

TEST_F(Stave, NothingIsDrawnBeforeTheFirstBarIsLaidOut) {
    // The bar being played has a note, but no waiting bar has been laid out yet.
    layCurrent(1, {"F1", 1, 158, 1});
    w().nextBarCopy[1].clear();
    w().drawbars();
    EXPECT_EQ(w().surface, w().stavePicture);
}

TEST_F(Stave, SpriteTypesOutsideOneToFourDrawNothing) {
    for (int16_t type : {int16_t{0}, int16_t{5}, int16_t{-1}, int16_t{99}}) {
        SCOPED_TRACE(type);
        clearBars();
        for (std::size_t p = 1; p <= 4; ++p) {
            layNext(p, {"F1", type, 158, 0});
            layCurrent(p, {"F1", type, 158, 0});
        }
        w().drawbars();
        EXPECT_EQ(w().surface, w().stavePicture);
    }
}

TEST_F(Stave, ARedrawWipesTheOldNotes) {
    for (std::size_t p = 1; p <= 4; ++p) {
        layNext(p, {"B2", 1, 48, 1, false});
        layCurrent(p, {"E0", 3, 149, 2, false});
    }
    w().drawbars();
    ASSERT_NE(w().surface, w().stavePicture);
    for (std::size_t p = 1; p <= 4; ++p) {
        w().nextBarLayout[PracticeState::kType][p] = 0;
        w().currentBarLayout[PracticeState::kType][p] = 0;
        w().nextBarLayout[PracticeState::kSign][p] = 0;
        w().currentBarLayout[PracticeState::kSign][p] = 0;
    }
    w().drawbars();
    EXPECT_EQ(w().surface, w().stavePicture);
}

// ---- the sprites' lines against the stave ----

struct LinesCase {
    const char* name;
    int16_t type;
    int16_t height;
    int column;               // offset from the sprite's left edge, clear of head and stem
    std::vector<int> lines;   // window rows where a 2-row line starts
    std::vector<int> clear;   // window rows that stay white in that column
    std::vector<int> clearAt; // rows that stay white across all the sprite's columns
};

class SpriteLines : public Stave, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(SpriteLines, FallOnTheRowsOfTheStave) {
    const LinesCase& c = GetParam();
    for (bool waiting : {false, true}) {
        const int x = waiting ? 470 : 240;
        SCOPED_TRACE(std::string(c.name) + (waiting ? " waiting" : " played"));
        drawAlone({c.name, c.type, c.height, 0}, 1, waiting);
        for (int row : c.lines) {
            EXPECT_TRUE(white(x + c.column, row - 1)) << "above the line at " << row;
            EXPECT_TRUE(black(x + c.column, row)) << row;
            EXPECT_TRUE(black(x + c.column, row + 1)) << row + 1;
            EXPECT_TRUE(white(x + c.column, row + 2)) << "below the line at " << row;
        }
        for (int row : c.clear) {
            EXPECT_TRUE(white(x + c.column, row)) << row;
        }
        const int width = c.type == 2 ? 41 : 42;
        // The stem (columns 7-8 of a stem-down sprite) runs on through these rows.
        for (int row : c.clearAt) {
            for (int col = x - 2; col < x + width + 2; ++col) {
                if (col == x + 7 || col == x + 8) {
                    EXPECT_TRUE(black(col, row)) << "the stem at row " << row;
                    continue;
                }
                EXPECT_TRUE(white(col, row)) << "column " << col << " row " << row;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Notes, SpriteLines,
    ::testing::Values(
        // The first ledger line below, and the second and bottom lines of the stave.
        LinesCase{"E0", 3, 149, 2, {256, 212, 234}, {245, 266}, {}},
        // Four ledger lines above; nothing of the sprite under the stem's end.
        LinesCase{"B2", 1, 48, 39, {58, 80, 102, 124}, {47, 69, 91, 113, 135}, {}},
        LinesCase{"G2", 1, 70, 39, {80, 102, 124, 146}, {69}, {}},
        // One row below the ledger rows that G2 and B2 draw.
        LinesCase{"A2", 2, 60, 39, {81, 103, 125}, {80, 102, 124}, {}},
        LinesCase{"E1", 2, 169, 39, {190, 212, 234}, {256}, {}},
        LinesCase{"C1", 1, 114, 39, {124, 146, 168, 190}, {}, {}},
        LinesCase{"D1", 2, 103, 39, {124, 146, 168}, {}, {}},
        // Low inside the stave: adjust leaves out the line below the bottom line.
        LinesCase{"C0", 2, 191, 39, {212, 234}, {}, {256, 257}},
        LinesCase{"C#0", 2, 191, 39, {212, 234}, {}, {256, 257}},
        LinesCase{"Cb0", 2, 191, 39, {212, 234}, {}, {256, 257}},
        LinesCase{"D0", 1, 180, 39, {190, 212, 234}, {}, {256, 257}},
        LinesCase{"D#0", 1, 180, 39, {190, 212, 234}, {}, {256, 257}},
        LinesCase{"Db0", 1, 180, 39, {190, 212, 234}, {}, {256, 257}},
        LinesCase{"F0", 4, 126, 2, {168, 190, 212}, {}, {}}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            ch = ch == '#' ? 's' : ch;
        }
        return n;
    });

TEST_F(Stave, TheLongStemOfB2EndsJustOverTheMiddleLine) {
    drawAlone({"B2", 1, 48, 0});
    // The stem is columns 7-8 of the sprite, from the head down to row 189.
    for (int y = 68; y <= 189; ++y) {
        ASSERT_TRUE(black(247, y) && black(248, y)) << y;
    }
    EXPECT_TRUE(white(246, 150));
    EXPECT_TRUE(white(249, 150));
    EXPECT_TRUE(white(247, 192)) << "nothing below the middle line";
    EXPECT_TRUE(white(248, 200));
}

TEST_F(Stave, TheAdjustedSpritesKeepTheirHeadAndStem) {
    // C0 and D0 without the line below: head and stem are still there.
    drawAlone({"C0", 2, 191, 0});
    EXPECT_TRUE(black(240 + 21, 191 + 10));
    EXPECT_TRUE(black(240 + 7, 191 + 125));
    drawAlone({"D0", 1, 180, 0});
    EXPECT_TRUE(black(240 + 21, 180 + 10));
    EXPECT_TRUE(black(240 + 7, 180 + 125));
}

TEST_F(Stave, TheBarsStandAtTheirPlaces) {
    for (std::size_t p = 1; p <= 4; ++p) {
        layNext(p, {"B2", 1, 48, 0});
        layCurrent(p, {"B2", 1, 48, 0});
    }
    w().drawbars();
    // B2's top ledger line spans exactly the sprite's 42 columns.
    for (int x : {240, 290, 340, 390, 470, 520, 570, 620}) {
        SCOPED_TRACE(x);
        EXPECT_TRUE(white(x - 1, 58));
        EXPECT_TRUE(black(x, 58));
        EXPECT_TRUE(black(x + 41, 58));
        EXPECT_TRUE(white(x + 42, 58));
    }
    EXPECT_TRUE(white(440, 58)) << "nothing between the bars";
}

// ---- signs ----

struct SignCase {
    const char* what;
    Laid note;
    std::size_t position;
    bool waiting;
    int signX; // expected top left corner of the sign
    int signY;
    const char* shape; // the sign's shape picture
};

class Signs : public Stave, public ::testing::WithParamInterface<SignCase> {};

// Drawn with its sign, the note differs from the same note without one exactly by the sign's
// black pixels at the expected place.
TEST_P(Signs, StandLeftOfTheHead) {
    const SignCase& c = GetParam();
    SCOPED_TRACE(c.what);
    Laid plain = c.note;
    plain.sign = 0;
    const QImage without = drawAlone(plain, c.position, c.waiting);
    const QImage with = drawAlone(c.note, c.position, c.waiting);
    const QImage shape = QImage(platform::appFile(QString::fromLatin1(c.shape)))
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shape.isNull());
    int drawn = 0;
    for (int y = kTop; y < kStaveBottom; ++y) {
        for (int x = kLeft; x < kStaveRight; ++x) {
            const int sx = x - c.signX;
            const int sy = y - c.signY;
            const bool inSign = sx >= 0 && sy >= 0 && sx < shape.width() && sy < shape.height();
            const bool signBlack = inSign && (shape.pixel(sx, sy) & 0xffffff) == 0;
            const QRgb expected = signBlack ? 0x000000 : px(without, x, y);
            ASSERT_EQ(px(with, x, y), expected) << "at (" << x << ", " << y << ")";
            drawn += signBlack && px(without, x, y) != 0 ? 1 : 0;
        }
    }
    EXPECT_GT(drawn, 20) << "the sign shows";
}

INSTANTIATE_TEST_SUITE_P(
    Marks, Signs,
    ::testing::Values(
        SignCase{"sharp of F#1 at 240", {"F#1", 1, 158, 1}, 1, false, 230, 152, "sharpmask.bmp"},
        SignCase{"flat of Bb0 at 470", {"Bb0", 3, 105, 2}, 1, true, 460, 196, "flatmask.bmp"},
        SignCase{"natural of F0, type 4", {"F0", 4, 126, 3}, 2, true, 510, 230, "naturalmask.bmp"},
        SignCase{"natural of E1, type 2", {"E1", 2, 169, 3}, 2, false, 280, 163, "naturalmask.bmp"},
        SignCase{"sharp of C#1 at 390", {"C#1", 1, 114, 1}, 4, false, 380, 108, "sharpmask.bmp"},
        SignCase{"flat of Eb0 at 620", {"Eb0", 3, 149, 2}, 4, true, 610, 240, "flatmask.bmp"}),
    [](const auto& info) { return testName(info.param.note.name, info.param.note.sign); });

// Beside every kind of head, a sign's middle (a flat's: the middle of its bowl) stands within 5
// pixels of the middle of the head's line or space, measured on the drawn surface.
TEST_F(Stave, EverySignCentresOnItsNotesLineOrSpace) {
    const Laid heads[] = {
        {"F1", 1, 158}, {"E1", 2, 169}, {"B0", 3, 105}, {"F0", 4, 126}, {"A0", 4, 104}};
    for (const Laid& head : heads) {
        for (int16_t sign : {int16_t{1}, int16_t{2}, int16_t{3}}) {
            SCOPED_TRACE(head.name + " type " + std::to_string(head.type) + " sign " +
                         std::to_string(sign));
            const QImage without = drawAlone(head, 2);
            Laid signed_ = head;
            signed_.sign = sign;
            const QImage with = drawAlone(signed_, 2);
            const int x = w().currentBarX[2];
            // The head's rows: black in the head's middle column, not on a line of the stave or
            // of the sprite (those run across the sprite's whole width).
            int headTop = kStaveBottom;
            int headBottom = kTop;
            for (int y = kTop; y < kStaveBottom; ++y) {
                if (px(without, x + 22, y) == 0 && px(without, x + 2, y) != 0) {
                    headTop = std::min(headTop, y);
                    headBottom = std::max(headBottom, y);
                }
            }
            ASSERT_LT(headTop, headBottom);
            // The sign's rows: what the sign turned black left of the sprite; for a flat only the
            // bowl, right of its upright.
            const int firstColumn = x - 10 + (sign == 2 ? 3 : 0);
            int signTop = kStaveBottom;
            int signBottom = kTop;
            for (int y = kTop; y < kStaveBottom; ++y) {
                for (int sx = firstColumn; sx < x; ++sx) {
                    if (px(with, sx, y) != px(without, sx, y)) {
                        signTop = std::min(signTop, y);
                        signBottom = std::max(signBottom, y);
                    }
                }
            }
            ASSERT_LT(signTop, signBottom);
            EXPECT_LE(std::abs((signTop + signBottom) - (headTop + headBottom)), 10)
                << "sign rows " << signTop << "-" << signBottom << ", head rows " << headTop << "-"
                << headBottom;
        }
    }
}

TEST_F(Stave, NoSignDrawsNothingAndLeavesTheHeightAsItWas) {
    for (int16_t sign : {int16_t{0}, int16_t{4}, int16_t{-1}}) {
        for (int16_t type : {int16_t{1}, int16_t{3}}) {
            SCOPED_TRACE(std::to_string(sign) + "/" + std::to_string(type));
            w().surface = w().stavePicture.copy();
            w().drawX = 300;
            w().drawY = 150;
            w().spriteType = type;
            w().accidentalSign = sign;
            w().accidents();
            EXPECT_EQ(w().drawY, 150);
            EXPECT_EQ(w().surface, w().stavePicture);
        }
    }
    // A drawn sign puts the height back too.
    w().drawY = 105;
    w().spriteType = 3;
    w().accidentalSign = 2;
    w().accidents();
    EXPECT_EQ(w().drawY, 105);
    EXPECT_NE(w().surface, w().stavePicture);
}

TEST_F(Stave, ASharpNoteIsDrawnAsItsLetterApartFromTheSign) {
    const QImage f = drawAlone({"F1", 1, 158, 0});
    const QImage fSharp = drawAlone({"F#1", 1, 158, 0});
    EXPECT_EQ(f, fSharp);
    const QImage fSharpSigned = drawAlone({"F#1", 1, 158, 1});
    for (int y = kTop; y < kStaveBottom; ++y) {
        for (int x = kLeft; x < kStaveRight; ++x) {
            const bool inSign = x >= 230 && x < 241 && y >= 152 && y < 187;
            if (!inSign) {
                ASSERT_EQ(px(f, x, y), px(fSharpSigned, x, y)) << x << ", " << y;
            }
        }
    }
}

// ---- the 8va mark ----

struct OttavaCase {
    Laid note; // written an octave lower
    bool waiting;
    std::size_t position;
};

class Ottava : public Stave, public ::testing::WithParamInterface<OttavaCase> {};

TEST_P(Ottava, SitsCentredOverTheHeadClearOfSignsAndNames) {
    const OttavaCase& c = GetParam();
    SCOPED_TRACE(c.note.name + " sign " + std::to_string(c.note.sign));
    const int x =
        static_cast<int>(c.waiting ? w().nextBarX[c.position] : w().currentBarX[c.position]);
    Laid plain = c.note;
    plain.ottava = false;
    const QImage without = drawAlone(plain, c.position, c.waiting);
    const QImage with = drawAlone(c.note, c.position, c.waiting);
    const QImage mark = QImage(platform::appFile(QStringLiteral("ottava.bmp")))
                            .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(mark.isNull());

    // What the mark adds: its bounding box.
    int left = 10000, right = -1, top = 10000, bottom = -1, added = 0;
    for (int y = kTop; y < kStaveBottom; ++y) {
        for (int xx = kLeft; xx < kStaveRight; ++xx) {
            if (px(with, xx, y) != px(without, xx, y)) {
                ASSERT_EQ(px(with, xx, y), 0u) << "the mark only blackens";
                left = std::min(left, xx);
                right = std::max(right, xx);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                ++added;
            }
        }
    }
    ASSERT_GT(added, 20) << "the mark shows";
    // Its box holds no more than the picture.
    EXPECT_LE(right - left + 1, mark.width());
    EXPECT_LE(bottom - top + 1, mark.height());
    // Centred over the head (columns 7-35 of the sprite, centre 21), within a pixel or two.
    EXPECT_NEAR((left + right) / 2.0, x + 21, 2.0);
    // Above the head, with white rows between.
    const int headTop = c.note.height;
    EXPECT_LT(bottom, headTop - 2);
    EXPECT_GT(top, headTop - 30) << "close enough to read as the note's";
    // Clear of the name boxes (rows 16-37) and of the note's sign, which ends before column x+1.
    EXPECT_GT(top, 37);
    EXPECT_GT(left, x + 1);
    // Clear of the neighbours: the note before ends at x-9, the next sign starts at x+40.
    EXPECT_LT(right, x + 40);
}

INSTANTIATE_TEST_SUITE_P(Written, Ottava,
                         ::testing::Values(OttavaCase{{"C2", 1, 114, 0, true}, false, 1},
                                           OttavaCase{{"C#2", 1, 114, 1, true}, false, 2},
                                           OttavaCase{{"Db2", 2, 103, 2, true}, true, 1},
                                           OttavaCase{{"D2", 2, 103, 3, true}, true, 4},
                                           OttavaCase{{"E3", 1, 92, 0, true}, false, 3},
                                           OttavaCase{{"Fb3", 2, 81, 2, true}, true, 2},
                                           OttavaCase{{"F#3", 2, 81, 1, true}, false, 4},
                                           OttavaCase{{"G3", 1, 70, 0, true}, true, 3},
                                           OttavaCase{{"G#3", 1, 70, 1, true}, false, 1}),
                         [](const auto& info) {
                             return testName(info.param.note.name, info.param.note.sign);
                         });

TEST_F(Stave, NoMarkWithoutTheFlag) {
    // The mark follows the layout's flag, not the name.
    const QImage flagged = drawAlone({"C2", 1, 114, 0, true});
    const QImage plain = drawAlone({"C2", 1, 114, 0, false});
    const QImage c1 = drawAlone({"C1", 1, 114, 0, false});
    EXPECT_NE(flagged, plain);
    EXPECT_EQ(plain, c1);
}

// ---- the notes are kept ----

TEST_F(Stave, ExposedResizedOrHiddenTheStaveShowsTheSameNotes) {
    for (std::size_t p = 1; p <= 4; ++p) {
        layNext(p, {"C2", 1, 114, 1, true});
        layCurrent(p, {"Bb0", 3, 105, 2});
    }
    w().drawbars();
    const QImage drawn = w().surface.copy();
    w().show();
    QApplication::processEvents();
    const QImage first = w().Image3->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(first, drawn);

    w().resize(w().width() + 40, w().height() + 30);
    QApplication::processEvents();
    w().hide();
    QApplication::processEvents();
    w().show();
    w().update();
    w().Image3->update();
    w().Image3->repaint();
    QApplication::processEvents();
    const QImage second = w().Image3->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(second, first);
    EXPECT_EQ(w().surface, drawn);
}

TEST_F(Stave, OnlyFirstBeatsChangeTheStave) {
    w().Start_Click();
    QImage before = w().surface.copy();
    int changes = 0;
    for (int i = 0; i < 24; ++i) {
        const int beat = w().beatNumber;
        tick();
        if (beat != 1) {
            EXPECT_EQ(w().surface, before) << "tick " << i << " beat " << beat;
        } else if (w().surface != before) {
            ++changes;
        }
        before = w().surface.copy();
        if (i == 9) {
            // Stop, settings and Start draw nothing.
            w().Stop_Click();
            w().Keysignature->setListIndex(4);
            w().Keysignature_Click();
            w().Check2->setCheckState(Qt::Unchecked);
            w().Check2_Click();
            EXPECT_EQ(w().surface, before);
            w().Start_Click();
            EXPECT_EQ(w().surface, before);
            before = w().surface.copy();
        }
    }
    EXPECT_GE(changes, 3);
}

// ---- generated bars, read as a bass player reads them ----

// Scale steps above the bottom line (G0) of a note as written, from its letter and octave digit
// alone: the digit changes at E, so within one digit the letters run E F G A B C D.
std::optional<int> stepAboveBottomLine(const std::string& name) {
    if (name.size() < 2) {
        return std::nullopt;
    }
    static const std::string order = "EFGABCD";
    const auto letter = order.find(name.front());
    const char digit = name.back();
    if (letter == std::string::npos || digit < '0' || digit > '3') {
        return std::nullopt;
    }
    return static_cast<int>((digit - '0') * 7 + static_cast<int>(letter)) - 2;
}

// The window row at the middle of the line or space of a step: the bottom line's rows are 234 and
// 235, a step is 11 rows.
double rowOfStep(int step) {
    return 234.5 - 11.0 * step;
}

class GeneratedBars : public Stave {
protected:
    // The head's middle rows in column x+21, which runs through every head: the rows of the
    // vertical black run there that are no line (a line's row is black far to both sides).
    std::optional<double> headCentre(int x) const {
        const int col = x + 21;
        int bestTop = -1, bestBottom = -1, top = -1;
        for (int y = kTop; y <= kStaveBottom; ++y) {
            const bool b = y < kStaveBottom && black(col, y);
            if (b && top < 0) {
                top = y;
            }
            if (!b && top >= 0) {
                if (y - top > bestBottom - bestTop + 1 || bestTop < 0) {
                    bestTop = top;
                    bestBottom = y - 1;
                }
                top = -1;
            }
        }
        if (bestTop < 0 || bestBottom - bestTop + 1 < 15) {
            return std::nullopt;
        }
        auto isLineRow = [&](int y) {
            int run = 0;
            for (int xx = col; xx < kStaveRight && black(xx, y); ++xx) {
                ++run;
            }
            for (int xx = col - 1; xx >= kLeft && black(xx, y); --xx) {
                ++run;
            }
            return run > 32;
        };
        while (bestTop <= bestBottom && isLineRow(bestTop)) {
            ++bestTop;
        }
        while (bestBottom >= bestTop && isLineRow(bestBottom)) {
            --bestBottom;
        }
        if (bestBottom - bestTop + 1 < 15) {
            return std::nullopt;
        }
        return (bestTop + bestBottom) / 2.0;
    }

    // Whether anything but the stave lies in a window rectangle.
    bool onlyStave(int x0, int y0, int x1, int y1) const {
        for (int y = std::max(y0, kTop); y <= std::min(y1, kStaveBottom - 1); ++y) {
            for (int x = std::max(x0, kLeft); x <= std::min(x1, kStaveRight - 1); ++x) {
                if (at(x, y) != (window->stavePicture.pixel(x - kLeft, y - kTop) & 0xffffff)) {
                    return false;
                }
            }
        }
        return true;
    }

    void checkNote(const std::string& name, int x, int16_t type, int16_t height, int16_t sign,
                   bool ottava) {
        SCOPED_TRACE(name + " at " + std::to_string(x));
        ASSERT_TRUE(staveLookup(name).has_value()) << "a generated note without a place";
        ASSERT_GE(type, 1);
        ASSERT_LE(type, 4);
        auto step = stepAboveBottomLine(name);
        ASSERT_TRUE(step.has_value());
        // Above B2 (16 steps above G0) the note is written an octave lower, under the mark.
        const bool above = *step > 16;
        EXPECT_EQ(ottava, above);
        const int written = above ? *step - 7 : *step;
        const auto centre = headCentre(x);
        ASSERT_TRUE(centre.has_value()) << "no head found";
        EXPECT_NEAR(*centre, rowOfStep(written), 2.0) << "head rows centre";
        ++checked;

        // The mark over the head, and only there.
        const int spriteTop = height;
        EXPECT_EQ(onlyStave(x + 9, spriteTop - 22, x + 33, spriteTop - 3), !ottava) << "8va mark";
        // A sign left of the head exactly when the layout has one.
        const int headTop = type <= 2 ? height : height + (type == 3 ? 97 : 110);
        EXPECT_EQ(onlyStave(x - 8, headTop - 6, x - 3, headTop + 24), sign == 0) << "sign";
    }

    int checked = 0;
};

TEST_F(GeneratedBars, EveryNoteSitsWhereItsNameIsRead) {
    stavebass& win = w();
    struct Setting {
        int key, fret, string, distance, accif;
        bool diatonic;
    };
    std::vector<Setting> settings;
    for (int k = 0; k < 15; ++k) {
        settings.push_back({k, 0, k % 4, 4, 3, false}); // all over the neck, many signs
        settings.push_back({k, 1 + k % 11, (k + 1) % 4, k % 5, k % 4, k % 2 == 0});
        settings.push_back({k, 11 - k % 11, 3, 4, 3, false}); // high up the neck
        settings.push_back({k, 1, 0, 0, 2, false});           // the lowest notes
    }
    int bars = 0;
    for (const Setting& s : settings) {
        win.Keysignature->setListIndex(s.key);
        win.Keysignature_Click();
        win.fretposition->setListIndex(s.fret);
        win.fretposition_Change();
        win.Stringchoice->setListIndex(s.string);
        win.Stringchoice_Change();
        win.intervaldistance->setListIndex(s.distance);
        win.intervaldistance_Change();
        win.accif->setListIndex(s.accif);
        win.Check1->setCheckState(s.diatonic ? Qt::Checked : Qt::Unchecked);
        win.Check1_Click();
        ASSERT_EQ(win.keyIndex, s.key);
        for (int b = 0; b < 6; ++b) {
            win.createbar2();
            win.createbar1();
            win.drawbars();
            ++bars;
            for (std::size_t p = 1; p <= 4; ++p) {
                checkNote(win.nextBar[p], static_cast<int>(win.nextBarX[p]),
                          win.nextBarLayout[PracticeState::kType][p],
                          win.nextBarLayout[PracticeState::kHeight][p],
                          win.nextBarLayout[PracticeState::kSign][p], win.nextBarOttava[p]);
                if (b > 0) {
                    checkNote(win.currentBar[p], static_cast<int>(win.currentBarX[p]),
                              win.currentBarLayout[PracticeState::kType][p],
                              win.currentBarLayout[PracticeState::kHeight][p],
                              win.currentBarLayout[PracticeState::kSign][p],
                              win.currentBarOttava[p]);
                }
            }
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    EXPECT_GE(bars, 300);
    EXPECT_GE(checked, 2000);
}

// The reading itself, on hand-made bars: a bass player's landmarks.
TEST_F(GeneratedBars, LandmarksOfTheBassStave) {
    struct Landmark {
        const char* name;
        double row;
    };
    const Landmark landmarks[] = {{"G0", 234.5}, {"B0", 212.5}, {"D0", 190.5}, {"F1", 168.5},
                                  {"A1", 146.5}, {"A0", 223.5}, {"C0", 201.5}, {"E1", 179.5},
                                  {"G1", 157.5}, {"E0", 256.5}, {"F0", 245.5}, {"C1", 124.5},
                                  {"E2", 102.5}, {"G2", 80.5},  {"B2", 58.5}};
    for (const Landmark& l : landmarks) {
        SCOPED_TRACE(l.name);
        const auto place = staveLookup(l.name);
        ASSERT_TRUE(place.has_value());
        drawAlone({l.name, place->type, place->height, 0});
        const auto centre = headCentre(240);
        ASSERT_TRUE(centre.has_value());
        EXPECT_NEAR(*centre, l.row, 2.0);
        EXPECT_DOUBLE_EQ(rowOfStep(*stepAboveBottomLine(l.name)), l.row);
    }
}

} // namespace
