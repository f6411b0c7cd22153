#include "engine/notes.h"
#include "platform/msgbox.h"
#include "sound/midi_out.h"
#include "support/window_fixture.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>

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
    EXPECT_NEAR(w().Timer1->interval(), 1000, 1) << "the first beat comes a beat after Start";
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

// The beats on a device that schedules, with its clock in the test's hands: each tick runs
// when the test says (early, late, slow), and every sound must land on start + n x 60000 / tempo.
TEST_F(BeatLoop, ScheduledBeatsFallOnTheTempoWhateverTheTicksDo) {
    int64_t now = 7'000'000'000; // the device's clock
    capture.scheduling = true;
    capture.clock = [&now] { return now; };
    constexpr int64_t ms = 1'000'000;
    const int64_t ahead = MIDI_OUT::kScheduleAheadNanos;
    struct Beat {
        int64_t tickAt;    // when the tick runs, from the start
        int tempoBefore;   // a move of the tempo bar just before the tick (0: none)
        int64_t expectDue; // the beat's time, from the start
    };
    // Tempo 140: 428.571 ms a beat, seven beats 3 s.
    const std::vector<Beat> beats = {
        {378'571'429, 0, 428'571'429},     // a look-ahead early
        {837'142'857, 0, 857'142'857},     // 30 ms later than that: a busy core
        {1'155'714'286, 0, 1'285'714'286}, // woken 130 ms early
        {1'712'285'714, 0, 1'714'285'714}, // barely in time
        {2'092'857'143, 0, 2'142'857'143},
        {2'591'428'571, 0, 2'571'428'571}, // 20 ms late: sounds at once, the grid stays
        {2'950'000'000, 0, 3'000'000'000},
        {3'450'000'000, 120, 3'500'000'000}, // tempo 120 from the next beat: 0.5 s after
        {3'950'000'000, 0, 4'000'000'000},
        {4'700'000'000, 0, 4'700'000'000}, // 200 ms late, over a quarter: the beats go on from it
        {5'150'000'000, 0, 5'200'000'000},
    };
    w().temposcroll->setValue(140);
    const int64_t start = now;
    w().Start_Click();
    EXPECT_NEAR(w().Timer1->interval(), (428'571'429 - ahead) / ms, 1);
    for (std::size_t i = 0; i < beats.size(); ++i) {
        const Beat& b = beats[i];
        now = start + b.tickAt;
        if (b.tempoBefore != 0) {
            w().temposcroll->setValue(b.tempoBefore);
        }
        capture.clear();
        tick();
        ASSERT_EQ(capture.messages.size(), 2u) << "beat " << i;
        const int64_t expected = start + b.expectDue;
        EXPECT_EQ(capture.messages[1].due, std::max(expected, now)) << "beat " << i;
        EXPECT_EQ(w().beatDue, expected) << "beat " << i;
        if (i + 1 < beats.size() && beats[i + 1].tempoBefore == 0 &&
            beats[i + 1].tickAt < beats[i + 1].expectDue) {
            const int64_t wait = (start + beats[i + 1].expectDue - ahead - now) / ms;
            EXPECT_NEAR(w().Timer1->interval(), std::max<int64_t>(wait, 1), 1) << "beat " << i;
        }
    }
    EXPECT_EQ(w().timerInterval, 500) << "the length of a beat at tempo 120";
    // Stop drops what was sent ahead; Start begins a beat after the press.
    w().Stop_Click();
    EXPECT_EQ(capture.cancels, 1);
    now += 10'000 * ms;
    w().Start_Click();
    capture.clear();
    tick();
    EXPECT_EQ(capture.messages[1].due, now + 500 * ms);
}

// A tick from the timer runs a look-ahead before its beat; what it changes on the screen shows
// when the beat sounds, not before.
TEST_F(BeatLoop, WhatATickShowsAppearsWithItsBeat) {
    int64_t now = 0;
    capture.scheduling = true;
    capture.clock = [&now] { return now; };
    w().temposcroll->setValue(200);
    w().Start_Click();
    now = w().beatClock.next() - MIDI_OUT::kScheduleAheadNanos;
    w().beattimer();
    EXPECT_EQ(w().beater->text(), "1");
    EXPECT_FALSE(w().beater->updatesEnabled()) << "held until the beat";
    EXPECT_FALSE(w().Image3->updatesEnabled());
    EXPECT_TRUE(QTest::qWaitFor([this] { return w().beater->updatesEnabled(); }, 1000));
    EXPECT_TRUE(w().Label13->updatesEnabled());
    // A timer that wakes early runs no tick: it waits again for what is left.
    capture.clear();
    now = w().beatClock.next() - 200'000'000;
    w().beattimer();
    EXPECT_TRUE(capture.messages.empty());
    EXPECT_NEAR(w().Timer1->interval(), 150, 1);
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
    w().temposcroll->setValue(200); // a beat every 300 ms
    clock.uninstall();
    w().Start_Click();
    QTest::qWait(700);
    w().Stop_Click();
    const auto s = sent();
    EXPECT_GE(s.size(), 4u);
    EXPECT_LE(s.size(), 8u);
}

} // namespace
