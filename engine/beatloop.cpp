// The beat loop: one tick of Timer1 is one beat of a four-beat bar.
#include "engine/notes.h"
#include "engine/rounding.h"
#include "platform/clock.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <initializer_list>
#include <limits>

namespace {
constexpr int16_t kClickChannel = 9;
constexpr int16_t kAccentClick = 36;
constexpr int16_t kBeatClick = 37;
constexpr int16_t kNoteChannel = 0;

// Linux lets a sleeping poll wake up to a thousandth of its timeout late (almost 2 ms on a
// 1867 ms beat), and the event loop sleeps in poll until Timer1 is due.  A second timer, which
// does nothing, wakes the loop a few milliseconds early; the loop then sleeps again for what is
// left, and a sleep that short wakes on time.  Timer1 itself, its intervals and its ticks stay
// exactly as they are.
constexpr int kWakeAhead = 5; // ms

QTimer* waker(stavebass& window) {
    static const QString name = QStringLiteral("Timer1Waker");
    auto* timer = window.findChild<QTimer*>(name, Qt::FindDirectChildrenOnly);
    if (timer == nullptr) {
        timer = new QTimer(&window);
        timer->setObjectName(name);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    return timer;
}

// Called whenever Timer1's countdown starts afresh.
void wakeAhead(stavebass& window) {
    QTimer* timer = waker(window);
    if (!window.Timer1->isActive() || window.Timer1->interval() <= 2 * kWakeAhead) {
        timer->stop();
        return;
    }
    timer->start(window.Timer1->interval() - kWakeAhead);
}
} // namespace

void stavebass::Timer1_Timer() {
    stopWatch->Reset(); // 1
    // The beat this tick plays.  A device that schedules plays its sound at the beat's time;
    // one that does not plays it now.  A tick too late for a beat by more than a quarter of it
    // lets the beats go on from now rather than rush to catch up.
    const bool scheduled = beatClock.running() && MIDI_OUT::Schedules();
    beatClock.catchUp(MIDI_OUT::ClockNanos());
    beatDue = beatClock.running() ? beatClock.next() : 0;
    beatDueMonotonic = scheduled ? MIDI_OUT::ToMonotonic(beatDue) : 0;
    MIDI_OUT::sendAtNanos = scheduled ? beatDue : 0;
    if (!playNotes) { // 2
        MIDI_CMD::NoteOff(kClickChannel, kBeatClick);
        MIDI_CMD::NoteOn(kClickChannel, beatNumber == 1 ? kAccentClick : kBeatClick, noteVelocity);
    }
    if (beatNumber == 1) { // 3
        updatenotelabels();
        drawbars();
    }
    beater->setText(QString::number(beatNumber)); // 4
    // 5: the length of a beat at this tempo.
    timerInterval = divRoundHalfEven(kMillisPerMinute, tempo);
    if (playNotes) { // 6
        const int16_t shift = static_cast<int16_t>(notes::pitchShift(aspitch->listIndex()));
        const int16_t pitch = currentBarPitches[static_cast<std::size_t>(beatNumber)];
        if (pitch != 0) {
            MIDI_CMD::NoteOff(kNoteChannel, lastNote);
            const int16_t note = static_cast<int16_t>(pitch + shift);
            MIDI_CMD::NoteOn(kNoteChannel, note, noteVelocity);
            lastNote = note;
        }
    }
    MIDI_OUT::sendAtNanos = 0;
    if (beatNumber == 4) { // 7
        createbar2();
        createbar1();
    }
    // 8: the next tick comes when the next beat is due, whatever this one's work took.
    if (beatClock.running()) {
        beatClock.advance();
        beatTimeLeft = armbeat();
    } else {
        beatTimeLeft = std::max<int32_t>(timerInterval - stopWatch->Elapsed(), 1);
        Timer1->setInterval(beatTimeLeft);
        wakeAhead(*this);
    }
    beatNumber = static_cast<int16_t>(beatNumber + 1); // 9
    if (beatNumber == 5) {
        beatNumber = 1;
    }
    indexnotefind(); // 10
}

int64_t stavebass::lookaheadNanos() const {
    return MIDI_OUT::LookaheadNanos();
}

int64_t stavebass::nanostotick() const {
    return MIDI_OUT::ToMonotonic(beatClock.next()) - lookaheadNanos() - platform::monotonicNanos();
}

int32_t stavebass::tickwait() const {
    return static_cast<int32_t>(std::clamp<int64_t>((nanostotick() + 500'000) / 1'000'000, 1,
                                                    std::numeric_limits<int32_t>::max()));
}

int32_t stavebass::armbeat() {
    const int32_t ms = tickwait();
    Timer1->setInterval(ms);
    wakeAhead(*this);
    return ms;
}

void stavebass::beattimer() {
    if (beatClock.running()) {
        // A timer may wake early (or the device's clock run slower than the monotonic one, as a
        // file being written does): wait again for what is left.
        if (nanostotick() > 2'000'000) {
            armbeat();
            return;
        }
    }
    const bool hold = lookaheadNanos() > 0 && beatClock.running();
    if (hold) {
        holdscreen(true);
    }
    onTimer1();
    if (!hold) {
        return;
    }
    if (beatShown == nullptr) {
        beatShown = new QTimer(this);
        beatShown->setSingleShot(true);
        beatShown->setTimerType(Qt::PreciseTimer);
        connect(beatShown, &QTimer::timeout, this, [this] { holdscreen(false); });
    }
    const int64_t wait = beatDueMonotonic - platform::monotonicNanos();
    if (beatDueMonotonic == 0 || wait <= 0) {
        holdscreen(false);
        return;
    }
    beatShown->start(static_cast<int>(std::min<int64_t>(wait / 1'000'000, 1000)));
}

void stavebass::holdscreen(bool hold) {
    for (QWidget* widget : std::initializer_list<QWidget*>{Label13, Label14, Label15, Label16,
                                                           Image3, beater, finger}) {
        if (widget != nullptr) {
            widget->setUpdatesEnabled(!hold);
        }
    }
}

void stavebass::Start_Click() {
    beatNumber = 1;
    indexnotefind();
    if (!Timer1->isActive()) {
        // The first beat falls one beat after the press (a count-in has its clock running).
        if (!beatClockKept || !beatClock.running()) {
            beatClock.start(MIDI_OUT::ClockNanos(), tempo);
        }
        armbeat();
        Timer1->start();
        wakeAhead(*this);
    }
}

void stavebass::Stop_Click() {
    Timer1->stop();
    wakeAhead(*this);
    if (beatClock.running()) {
        // Nothing more sounds, not even a beat whose tick already ran ahead of it.
        beatClock.stop();
        MIDI_OUT::CancelScheduled();
    }
    if (beatShown != nullptr) {
        beatShown->stop();
    }
    holdscreen(false);
    indexnotefind();
}

void stavebass::Command1_Click() {
    Stop_Click();
}

void stavebass::temposcroll_Change() {
    tempo = static_cast<int16_t>(temposcroll->value());
    tempolabel->setText(QString::number(tempo));
    timerInterval = divRoundHalfEven(kMillisPerMinute, tempo);
    // From the next beat not yet played: one new beat after the last one.
    beatClock.setTempo(tempo, MIDI_OUT::ClockNanos() + lookaheadNanos());
    if (Timer1->isActive() && beatClock.running()) {
        armbeat();
    } else {
        Timer1->setInterval(timerInterval);
        wakeAhead(*this);
    }
}

void stavebass::Check4_Click() {
    switch (Check4->checkState()) {
    case Qt::Unchecked:
        playNotes = true;
        aspitch->setVisible(true);
        break;
    case Qt::Checked:
        playNotes = false;
        aspitch->setVisible(false);
        break;
    default:
        break; // a greyed box changes nothing
    }
}
