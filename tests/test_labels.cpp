// The names of the bar being played above it, and the box that shows or hides them.
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>
#include <array>
#include <gtest/gtest.h>

namespace {

using testing_support::WindowTest;

class Labels : public WindowTest {
protected:
    std::array<QString, 4> texts(const stavebass& w) const {
        return {w.Label13->text(), w.Label14->text(), w.Label15->text(), w.Label16->text()};
    }
    std::array<bool, 4> shown(const stavebass& w) const {
        return {w.Label13->isVisibleTo(window.get()), w.Label14->isVisibleTo(window.get()),
                w.Label15->isVisibleTo(window.get()), w.Label16->isVisibleTo(window.get())};
    }
    void setBar(stavebass& w, std::array<const char*, 4> names) {
        for (std::size_t p = 1; p <= 4; ++p) {
            w.currentBar[p] = names[p - 1];
        }
    }
};

struct NamesCase {
    std::array<const char*, 4> bar;
    std::array<const char*, 4> shown;
};

class LabelNames : public Labels, public ::testing::WithParamInterface<NamesCase> {};

TEST_P(LabelNames, ShowTheNamesWithoutTheOctaveDigit) {
    stavebass& w = makeWindow();
    setBar(w, GetParam().bar);
    w.updatenotelabels();
    const auto t = texts(w);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(t[i], GetParam().shown[i]) << "label " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bars, LabelNames,
    ::testing::Values(NamesCase{{"Cb1", "E#0", "F#1", "G2"}, {"Cb", "E#", "F#", "G"}},
                      NamesCase{{"E1", "E1", "E1", "E1"}, {"E", "E", "E", "E"}},
                      NamesCase{{"Bb0", "B0", "Bb0", "C1"}, {"Bb", "B", "Bb", "C"}},
                      // A name of one character leaves nothing; an empty
                      // entry beside others gives an empty text.
                      NamesCase{{"E", "", "G#3", "D2"}, {"", "", "G#", "D"}}));

TEST_F(Labels, AllFourEmptyChangesNothing) {
    stavebass& w = makeWindow();
    setBar(w, {"F#1", "A1", "F#2", "C1"});
    w.updatenotelabels();
    setBar(w, {"", "", "", ""});
    w.updatenotelabels();
    EXPECT_EQ(texts(w), (std::array<QString, 4>{"F#", "A", "F#", "C"}));
}

TEST_F(Labels, TextsFollowTheBarWhileHidden) {
    stavebass& w = makeWindow();
    w.Check2->setCheckState(Qt::Unchecked);
    w.Check2_Click();
    EXPECT_EQ(shown(w), (std::array<bool, 4>{false, false, false, false}));
    setBar(w, {"Db1", "Ab0", "G0", "C#1"});
    w.updatenotelabels();
    EXPECT_EQ(texts(w), (std::array<QString, 4>{"Db", "Ab", "G", "C#"}));
    // Ticked again, the names of the bar being played show at once.
    w.Check2->setCheckState(Qt::Checked);
    w.Check2_Click();
    EXPECT_EQ(shown(w), (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(texts(w), (std::array<QString, 4>{"Db", "Ab", "G", "C#"}));
}

TEST_F(Labels, AGreyedBoxLeavesTheLabelsAsTheyAre) {
    stavebass& w = makeWindow();
    for (bool visible : {true, false}) {
        w.Check2->setCheckState(visible ? Qt::Checked : Qt::Unchecked);
        w.Check2_Click();
        w.Check2->setCheckState(Qt::PartiallyChecked);
        w.Check2_Click();
        EXPECT_EQ(shown(w), (std::array<bool, 4>{visible, visible, visible, visible}));
    }
}

TEST_F(Labels, EveryClickRefreshesTheIndexFingerAndNothingElse) {
    stavebass& w = makeWindow();
    w.Start_Click();
    tick(9);
    // The hand moves without its handler, so only a new search shows it.
    w.fretposition->setListIndex(6);
    w.Stringchoice->setListIndex(1);
    const std::string indexBefore = w.indexNote;
    const QImage stave = w.surface.copy();
    const auto names = texts(w);
    const int16_t beat = w.beatNumber;
    const int16_t key = w.keyIndex;
    const bool running = w.Timer1->isActive();
    const auto next = w.nextBar;
    const Qt::CheckState diatonic = w.Check1->checkState();
    const bool diatonicOnly = w.diatonicOnly;

    w.Check2->setCheckState(Qt::Unchecked);
    w.Check2_Click();
    EXPECT_NE(w.indexNote, indexBefore) << "indexnotefind ran";
    EXPECT_EQ(w.surface, stave);
    EXPECT_EQ(texts(w), names);
    EXPECT_EQ(w.beatNumber, beat);
    EXPECT_EQ(w.keyIndex, key);
    EXPECT_EQ(w.Timer1->isActive(), running);
    EXPECT_EQ(w.nextBar, next);
    EXPECT_EQ(w.Check1->checkState(), diatonic);
    EXPECT_EQ(w.diatonicOnly, diatonicOnly);

    // A greyed box still searches.
    w.fretposition->setListIndex(2);
    const std::string again = w.indexNote;
    w.Check2->setCheckState(Qt::PartiallyChecked);
    w.Check2_Click();
    EXPECT_NE(w.indexNote, again);
}

TEST_F(Labels, TheBeatLoopNamesTheLeftBarOnFirstBeats) {
    stavebass& w = makeWindow();
    w.Start_Click();
    tick(4); // the first bar: nothing handed over yet
    EXPECT_EQ(texts(w), (std::array<QString, 4>{"", "", "", ""}));
    tick(1); // second bar, first beat: the four E1 of start-up
    EXPECT_EQ(texts(w), (std::array<QString, 4>{"E", "E", "E", "E"}));
    for (int bar = 3; bar <= 6; ++bar) {
        SCOPED_TRACE(bar);
        const auto atFirstBeat = texts(w);
        tick(3); // beats 2-4 leave the names alone, though beat 4 hands a bar over
        EXPECT_EQ(texts(w), atFirstBeat);
        tick(1);
        std::array<QString, 4> expected;
        for (std::size_t p = 1; p <= 4; ++p) {
            const std::string& n = w.currentBar[p];
            expected[p - 1] = QString::fromStdString(n.substr(0, n.size() - 1));
        }
        EXPECT_EQ(texts(w), expected);
    }
}

} // namespace
