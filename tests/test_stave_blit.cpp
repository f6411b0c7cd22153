// The stave drawing combines 32-bit pixels itself; it must leave exactly the pixels that the
// painter's raster operations (AND, then exclusive or) leave.  The same record is drawn twice:
// once with the sprites as loaded, once with every sprite in a format that goes through the
// painter.
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QCheckBox>

namespace {

class StaveBlit : public testing_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeWindow();
    }
    stavebass& w() { return *window; }

    std::vector<QImage*> sprites() {
        stavebass& s = w();
        return {&s.stabdownsprite, &s.stabdownmask,  &s.sitdownsprite, &s.sitdownmask,
                &s.stabupsprite,   &s.stabupmask,    &s.hangupsprite,  &s.hangupmask,
                &s.adjust,         &s.sharpsprite,   &s.sharpmask,     &s.flatsprite,
                &s.flatmask,       &s.naturalsprite, &s.naturalmask,   &s.ottavaMark,
                &s.ottavaMask};
    }

    // Draws with the painter's raster operations: the sprites in a premultiplied format.
    QImage drawnByPainter(const std::function<void()>& draw) {
        std::vector<QImage> kept;
        for (QImage* img : sprites()) {
            kept.push_back(*img);
            *img = img->convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
        draw();
        const QImage result = w().surface.copy();
        std::size_t i = 0;
        for (QImage* img : sprites()) {
            *img = kept[i++];
        }
        return result;
    }
};

TEST_F(StaveBlit, SpritesAreLoadedInTheSurfaceFormat) {
    ASSERT_FALSE(w().surface.isNull());
    for (QImage* img : sprites()) {
        ASSERT_FALSE(img->isNull());
        EXPECT_EQ(img->format(), w().surface.format());
    }
}

struct BarSetting {
    const char* name;
    bool diatonic;
    int accidentals;
};

TEST_F(StaveBlit, DrawnBarsMatchThePaintersRasterOperations) {
    const BarSetting settings[] = {
        {"diatonic", true, -1},
        {"chromatic, accidentals all the time", false, 3},
        {"chromatic, occasional accidentals", false, 1},
    };
    int compared = 0;
    for (const BarSetting& s : settings) {
        SCOPED_TRACE(s.name);
        w().Check1->setCheckState(s.diatonic ? Qt::Checked : Qt::Unchecked);
        w().accif->setListIndex(s.accidentals);
        w().Start_Click();
        for (int bar = 0; bar < 40; ++bar) {
            tick(4); // the next beat 1 draws the bars handed over on beat 4
            tick();
            const QImage fast = w().surface.copy();
            EXPECT_NE(fast, w().stavePicture) << "bar " << bar << " drew notes";
            const QImage reference = drawnByPainter([this] { w().drawbars(); });
            ASSERT_EQ(fast, reference) << "bar " << bar;
            w().drawbars();
            ++compared;
            tick(3);
        }
    }
    EXPECT_EQ(compared, 120);
}

struct Placement {
    int16_t type;
    int16_t x;
    int16_t y;
    bool ottava;
};

TEST_F(StaveBlit, SpritesOverTheEdgeAreClippedAsThePainterClipsThem) {
    const Placement cases[] = {
        {1, 200, 20, true},   // left of the stave's corner, the mark above its top
        {2, 860, 100, false}, // past the right edge
        {3, 400, 280, false}, // past the bottom
        {4, 100, -200, true}, // wholly outside
        {1, 240, 60, false},  // inside
    };
    for (const Placement& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.x << "," << c.y);
        auto draw = [this, &c] {
            w().surface = w().stavePicture.copy();
            w().spriteType = c.type;
            w().drawX = c.x;
            w().drawY = c.y;
            w().drawOttava = c.ottava;
            w().drawNoteName = "G0";
            w().accidentalSign = 1;
            w().shownote();
            w().accidents();
        };
        draw();
        const QImage fast = w().surface.copy();
        EXPECT_EQ(fast, drawnByPainter(draw));
    }
}

} // namespace
