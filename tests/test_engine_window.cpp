// The generator's window methods on the real window: lists chosen, handlers run, bars made.
#include "engine/random.h"
#include "stave/stave_table.h"
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QLabel>
#include <gtest/gtest.h>
#include <set>

namespace {

using testing_support::WindowTest;

class EngineWindow : public WindowTest {
protected:
    // Replaces the window's generator with fixed values; returns it for its record.
    ScriptedRandom& script(stavebass& w, std::vector<double> values) {
        auto source = std::make_unique<ScriptedRandom>(std::move(values));
        ScriptedRandom& ref = *source;
        w.random = std::move(source);
        return ref;
    }
    void expectLaidOut(const stavebass& w, std::size_t p, const char* name, int sign,
                       bool ottava = false) {
        SCOPED_TRACE(std::string("position ") + std::to_string(p));
        EXPECT_EQ(w.nextBar[p], name);
        EXPECT_EQ(w.nextBarCopy[p], name);
        const std::optional<StavePlace> place = staveLookup(name);
        ASSERT_TRUE(place.has_value());
        EXPECT_EQ(w.nextBarLayout[PracticeState::kType][p], place->type);
        EXPECT_EQ(w.nextBarLayout[PracticeState::kHeight][p], place->height);
        EXPECT_EQ(w.nextBarLayout[PracticeState::kSign][p], sign);
        EXPECT_EQ(w.nextBarOttava[p], ottava);
    }
};

TEST_F(EngineWindow, BarAfterLoadComesFromTheOpenEString) {
    stavebass& w = makeWindow();
    EXPECT_EQ(w.diatonics[0][24], "G3");
    // The re-seed draw, then for each note the row pick and the one-in-eight draw.
    ScriptedRandom& r = script(w, {0.42, 0.0, 0.0, 0.5, 0.0, 0.9999, 0.0, 0.3, 0.3});
    w.createbar1();
    ASSERT_EQ(r.seeds.size(), 1u);
    EXPECT_EQ(r.seeds[0], 43.0f);
    EXPECT_EQ(r.drawn, 9u);
    expectLaidOut(w, 1, "E0", 0);
    expectLaidOut(w, 2, "F0", 0);
    expectLaidOut(w, 3, "G0", 0);
    expectLaidOut(w, 4, "E0", 0);
    EXPECT_EQ(w.barPos, 5);
    EXPECT_EQ(w.spriteType, 3);
    EXPECT_EQ(w.drawY, 149);
    EXPECT_EQ(w.accidentalSign, 0);
    EXPECT_EQ(w.indexNote, "E0");
    EXPECT_EQ(w.finger->text(), "E");
}

TEST_F(EngineWindow, AllOverTheNeckWritesHighNotesAnOctaveLower) {
    stavebass& w = makeWindow();
    w.Check1->setCheckState(Qt::Unchecked); // "Diatonic to Key" off shows the odds list
    EXPECT_FALSE(w.diatonicOnly);
    EXPECT_FALSE(w.accif->isHidden());
    w.accif->setListIndex(3); // "All the Time"
    w.fretposition->setListIndex(0);
    w.Stringchoice->setListIndex(3);
    // Per note: the chromatic pick over positions 1..39, the spelling coin, the swap draw.
    script(w, {0.0, 32.5 / 39, 0.9, 0.0, 36.5 / 39, 0.9, 0.0, 31.5 / 39, 0.9, 0.0, 14.5 / 39, 0.9,
               0.0});
    w.createbar1();
    expectLaidOut(w, 1, "C2", 0, true);
    expectLaidOut(w, 2, "E3", 0, true);
    expectLaidOut(w, 3, "B2", 0);
    expectLaidOut(w, 4, "F#1", 1);
    EXPECT_EQ(w.accidentalSign, 1);
    EXPECT_EQ(w.finger->text(), "G");

    // A greyed box changes nothing; ticking it again hides the odds list.
    w.Check1->setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(w.diatonicOnly);
    w.Check1->setCheckState(Qt::Checked);
    EXPECT_TRUE(w.diatonicOnly);
    EXPECT_TRUE(w.accif->isHidden());
}

TEST_F(EngineWindow, AlternateFromIndexFingerFillsBeatsOneAndThree) {
    stavebass& w = makeWindow();
    w.Keysignature->setListIndex(8); // F
    w.Keysignature_Click();
    EXPECT_EQ(w.keyIndex, 8);
    EXPECT_EQ(w.finger->text(), "E") << "choosing a key leaves the label until its refresh";
    w.Stringchoice->setListIndex(1);
    w.fretposition->setListIndex(2);
    w.intervaldistance_Change();
    EXPECT_EQ(w.finger->text(), "Bb");
    EXPECT_EQ(w.indexNotePos, 7);
    EXPECT_EQ(w.indexRow, 5);
    w.alternateFromIndex = true;
    for (int bar = 0; bar < 20; ++bar) {
        w.createbar1();
        EXPECT_EQ(w.nextBar[1], "Bb0");
        EXPECT_EQ(w.nextBar[3], "Bb0");
        EXPECT_EQ(w.nextBarLayout[PracticeState::kSign][1], 0) << "Bb is in the key";
        for (std::size_t p = 1; p <= 4; ++p) {
            EXPECT_TRUE(staveLookup(w.nextBar[p]).has_value()) << w.nextBar[p];
        }
    }
}

TEST_F(EngineWindow, ListHandlersRefreshTheFingerNote) {
    stavebass& w = makeWindow();
    w.Keysignature->setListIndex(12); // Db
    w.Keysignature_Click();
    w.Stringchoice->setListIndex(2);
    w.fretposition->setListIndex(2);
    w.fretposition_Change();
    EXPECT_EQ(w.indexNote, "Eb1");
    EXPECT_EQ(w.indexRow, 8);
    EXPECT_EQ(w.finger->text(), "Eb");
    EXPECT_EQ(w.keyIndex, 12);

    w.Stringchoice->setListIndex(0);
    w.Stringchoice_Change();
    EXPECT_EQ(w.indexNote, "F0");
    EXPECT_EQ(w.finger->text(), "F");

    // An edited key text leaves no entry selected: key C, and the label follows at once.
    w.Keysignature->setListIndex(-1);
    w.Keysignature_Change();
    EXPECT_EQ(w.keyIndex, 0);
    EXPECT_EQ(w.indexNote, "F0");
    EXPECT_EQ(w.indexRow, 2);
}

TEST_F(EngineWindow, SameActionsGiveTheSameBarsAndBarsMoveOn) {
    std::vector<std::string> first;
    {
        stavebass& w = makeWindow();
        w.fretposition->setListIndex(0);
        for (int bar = 0; bar < 50; ++bar) {
            w.createbar1();
            first.push_back(w.nextBar[1] + w.nextBar[2] + w.nextBar[3] + w.nextBar[4]);
        }
        window.reset();
    }
    stavebass& w = makeWindow();
    w.fretposition->setListIndex(0);
    std::set<std::string> distinct;
    for (int bar = 0; bar < 50; ++bar) {
        w.createbar1();
        const std::string notes = w.nextBar[1] + w.nextBar[2] + w.nextBar[3] + w.nextBar[4];
        EXPECT_EQ(notes, first[static_cast<std::size_t>(bar)]) << "bar " << bar;
        distinct.insert(notes);
    }
    EXPECT_GT(distinct.size(), 45u);
}

} // namespace
