#include "engine/notes.h"
#include "platform/msgbox.h"
#include "sound/midi_out.h"
#include "support/window_fixture.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {

using testing_support::msg;

class BeatLoop : public testing_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeWindow();
        capture.clear();
    }
    stavebass& w() { return *window; }
    static uint32_t click(int note) { return msg(0x99, static_cast<uint32_t>(note), 127); }
    static uint32_t clickOff() { return msg(0x99, 37, 0); }
};

TEST_F(BeatLoop, ClickModeSendsANoteOffOf37ThenTheClick) {
    w().Start_Click();
    EXPECT_TRUE(w().Timer1->isActive());
    EXPECT_EQ(w().Timer1->interval(), 930) << "the first tick comes 930 ms after Start";
    QStringList beats;
    for (int i = 0; i < 8; ++i) {
        tick();
        beats << w().beater->text();
    }
    EXPECT_EQ(beats, (QStringList{"1", "2", "3", "4", "1", "2", "3", "4"}));
    std::vector<uint32_t> expected;
    for (int bar = 0; bar < 2; ++bar) {
        for (int beat = 1; beat <= 4; ++beat) {
            expected.push_back(clickOff());
            expected.push_back(click(beat == 1 ? 36 : 37));
        }
    }
    EXPECT_EQ(sent(), expected);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(BeatLoop, NoteModeSoundsTheHandedOverBars) {
    w().Check4->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(w().playNotes);
    EXPECT_TRUE(w().aspitch->isVisibleTo(&w()));
    w().Start_Click();

    // First bar: nothing has been handed over, so nothing sounds.
    tick(4);
    EXPECT_TRUE(sent().empty());
    // Second bar: the four "E1" of the start-up, 52 written and 40 at bass pitch.
    tick(4);
    std::vector<uint32_t> expected{msg(0x90, 0, 0),    msg(0x90, 40, 127), msg(0x90, 40, 0),
                                   msg(0x90, 40, 127), msg(0x90, 40, 0),   msg(0x90, 40, 127),
                                   msg(0x90, 40, 0),   msg(0x90, 40, 127)};
    EXPECT_EQ(sent(), expected) << "the very first note-off is for note 0";
    for (QLabel* l : {w().Label13, w().Label14, w().Label15, w().Label16}) {
        EXPECT_EQ(l->text(), "E");
    }

    // Third bar: the first generated bar, each note an octave below its written number.
    capture.clear();
    const PracticeState::Bar bar = w().currentBar;
    int16_t last = 40;
    expected.clear();
    for (std::size_t p = 1; p <= 4; ++p) {
        const auto number = notes::writtenNumber(bar[p]);
        ASSERT_TRUE(number.has_value()) << bar[p];
        const auto sounding = static_cast<uint32_t>(*number - 12);
        expected.push_back(msg(0x90, static_cast<uint32_t>(last), 0));
        expected.push_back(msg(0x90, sounding, 127));
        last = static_cast<int16_t>(sounding);
    }
    tick(4);
    EXPECT_EQ(sent(), expected);
}

TEST_F(BeatLoop, ConcertPitchSoundsAsWritten) {
    w().Check4->setCheckState(Qt::Unchecked);
    w().aspitch->setListIndex(1);
    w().Start_Click();
    tick(8);
    const auto s = sent();
    ASSERT_EQ(s.size(), 8u);
    EXPECT_EQ(s[1], msg(0x90, 52, 127));
    w().aspitch->setListIndex(0);
    capture.clear();
    const auto first = notes::writtenNumber(w().currentBar[1]);
    tick();
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[1], msg(0x90, static_cast<uint32_t>(*first - 12), 127));
}

TEST_F(BeatLoop, SwitchingToClicksSendsNoNoteOffForTheRingingNote) {
    w().Check4->setCheckState(Qt::Unchecked);
    w().Start_Click();
    tick(5); // the second bar's first note rings
    capture.clear();
    w().Check4->setCheckState(Qt::Checked);
    EXPECT_TRUE(w().aspitch->isHidden());
    tick();
    EXPECT_EQ(sent(), (std::vector<uint32_t>{clickOff(), click(37)}));
    // A greyed box changes nothing.
    w().Check4->setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(w().playNotes);
}

TEST_F(BeatLoop, NotesSwitchedOnMidBarSoundOnlyWhatAHandOverStored) {
    w().Start_Click();
    tick(6); // clicks; two hand-overs have happened with the box ticked: no pitches stored
    capture.clear();
    w().Check4->setCheckState(Qt::Unchecked);
    tick(2); // beats 3 and 4
    EXPECT_TRUE(sent().empty());
    tick(); // the bar handed over at that beat 4 was stored with notes on
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(BeatLoop, TheNextIntervalLosesTheTicksWorkAndAFifth) {
    w().Start_Click();
    // The fake clock moves 1 ms per read: Reset reads it three times and Elapsed once more, so
    // the tick's own work measures 1 ms.
    tick();
    // With tempo 60 the inside-tick interval is 1167; Elapsed was 1 (one read after Reset).
    EXPECT_EQ(w().timerInterval, 1167);
    EXPECT_EQ(w().beatTimeLeft, 1166);
    EXPECT_EQ(w().Timer1->interval(), 1166 - 1166 / 5);
    // A heavier tick: each read now moves the count 10 ms on, so the work measures 10 ms.
    clock.perRead = 10;
    tick();
    EXPECT_EQ(w().beatTimeLeft, 1167 - 10);
    EXPECT_EQ(w().Timer1->interval(), 1157 - 231);
}

TEST_F(BeatLoop, ATickThatOverrunsLeavesOneMillisecond) {
    w().Start_Click();
    // Every read of the clock takes 5 seconds: Elapsed is far beyond the interval.
    clock.perRead = 5000;
    tick();
    EXPECT_EQ(w().beatTimeLeft, 1);
    EXPECT_EQ(w().Timer1->interval(), 1);
}

TEST_F(BeatLoop, TempoChangesWhileRunning) {
    w().Start_Click();
    tick();
    struct Case {
        int tempo;
        int32_t outside, inside;
    };
    const Case cases[] = {{32, 1743, 2188}, {50, 1116, 1400}, {46, 1212, 1522},
                          {160, 349, 438},  {200, 279, 350},  {30, 1859, 2333}};
    for (const auto& c : cases) {
        w().temposcroll->setValue(c.tempo);
        EXPECT_EQ(w().tempo, c.tempo);
        EXPECT_EQ(w().tempolabel->text().toInt(), c.tempo);
        EXPECT_EQ(w().timerInterval, c.outside);
        EXPECT_EQ(w().Timer1->interval(), c.outside) << "the wait starts again from the move";
        EXPECT_TRUE(w().Timer1->isActive());
        tick();
        EXPECT_EQ(w().timerInterval, c.inside);
    }
}

TEST_F(BeatLoop, StartTwiceGoesBackToBeatOneWithoutStopping) {
    w().Start_Click();
    tick(2);
    EXPECT_EQ(w().beatNumber, 3);
    w().Start_Click();
    EXPECT_EQ(w().beatNumber, 1);
    EXPECT_TRUE(w().Timer1->isActive());
    capture.clear();
    tick();
    EXPECT_EQ(sent()[1], click(36));
}

TEST_F(BeatLoop, StopMidBarThenStartReplaysTheSameBar) {
    w().Start_Click();
    tick(9); // into the third bar, beat 2 next
    const auto current = w().currentBar;
    const auto waiting = w().nextBar;
    const QImage shown = w().surface.copy();
    w().Stop_Click();
    EXPECT_FALSE(w().Timer1->isActive());
    w().Start_Click();
    EXPECT_EQ(w().beatNumber, 1);
    tick();
    EXPECT_EQ(w().currentBar, current);
    EXPECT_EQ(w().nextBar, waiting);
    EXPECT_EQ(w().surface, shown) << "the same two bars are drawn again";
    EXPECT_EQ(w().beater->text(), "1");
    // Pause does what Stop does.
    w().Command1_Click();
    EXPECT_FALSE(w().Timer1->isActive());
}

TEST_F(BeatLoop, BarsMoveOnOnlyAtBeatFour) {
    w().Start_Click();
    tick(4);
    const auto first = w().nextBar;
    const auto firstLayout = w().nextBarLayout;
    EXPECT_EQ(w().currentBar[1], "E1");
    tick(3);
    EXPECT_EQ(w().nextBar, first);
    tick();
    EXPECT_EQ(w().currentBar, first);
    EXPECT_EQ(w().currentBarLayout, firstLayout);
}

TEST_F(BeatLoop, ADeviceThatFailsEveryCallShowsOneBoxPerSendAndGoesOn) {
    capture.sendResult = platform::MMSYSERR_ERROR;
    // A tick that arrives while a box waits for the player must not run inside this one.
    int nestedAttempts = 0;
    platform::setMessageBoxHook([this, &nestedAttempts](const QString& text) {
        boxes << text;
        ++nestedAttempts;
        window->onTimer1();
    });
    w().Start_Click();
    tick(3);
    EXPECT_EQ(boxes.size(), 6) << "two sends a beat, one box each";
    EXPECT_EQ(nestedAttempts, 6);
    EXPECT_EQ(w().beatNumber, 4) << "three ticks ran, none nested";
    EXPECT_EQ(sent().size(), 6u);
}

TEST_F(BeatLoop, TheRealTimerBeats) {
    w().temposcroll->setValue(200); // 279 ms to the first tick, 280 or less after
    clock.uninstall();
    w().Start_Click();
    QTest::qWait(700);
    w().Stop_Click();
    const auto s = sent();
    EXPECT_GE(s.size(), 4u);
    EXPECT_LE(s.size(), 8u);
}

} // namespace
