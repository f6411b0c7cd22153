// The beat loop: one tick of Timer1 is one beat of a four-beat bar.
#include "engine/notes.h"
#include "engine/rounding.h"
#include "sound/midi_cmd.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

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
    if (!playNotes) {   // 2
        MIDI_CMD::NoteOff(kClickChannel, kBeatClick);
        MIDI_CMD::NoteOn(kClickChannel, beatNumber == 1 ? kAccentClick : kBeatClick, noteVelocity);
    }
    if (beatNumber == 1) { // 3
        updatenotelabels();
        drawbars();
    }
    beater->setText(QString::number(beatNumber));                          // 4
    timerInterval = divRoundHalfEven(kIntervalNumeratorInsideTick, tempo); // 5
    if (playNotes) {                                                       // 6
        const int16_t shift = static_cast<int16_t>(notes::pitchShift(aspitch->listIndex()));
        const int16_t pitch = currentBarPitches[static_cast<std::size_t>(beatNumber)];
        if (pitch != 0) {
            MIDI_CMD::NoteOff(kNoteChannel, lastNote);
            const int16_t note = static_cast<int16_t>(pitch + shift);
            MIDI_CMD::NoteOn(kNoteChannel, note, noteVelocity);
            lastNote = note;
        }
    }
    if (beatNumber == 4) { // 7
        createbar2();
        createbar1();
    }
    beatTimeLeft = timerInterval - stopWatch->Elapsed(); // 8
    if (beatTimeLeft < 1) {
        beatTimeLeft = 1;
    }
    Timer1->setInterval(beatTimeLeft - beatTimeLeft / 5);
    wakeAhead(*this);
    beatNumber = static_cast<int16_t>(beatNumber + 1); // 9
    if (beatNumber == 5) {
        beatNumber = 1;
    }
    indexnotefind(); // 10
}

void stavebass::Start_Click() {
    beatNumber = 1;
    indexnotefind();
    // The interval stays what the load, the last tempo change or the last tick set.
    if (!Timer1->isActive()) {
        Timer1->start();
        wakeAhead(*this);
    }
}

void stavebass::Stop_Click() {
    Timer1->stop();
    wakeAhead(*this);
    indexnotefind();
}

void stavebass::Command1_Click() {
    Stop_Click();
}

void stavebass::temposcroll_Change() {
    tempo = static_cast<int16_t>(temposcroll->value());
    tempolabel->setText(QString::number(tempo));
    timerInterval = divRoundHalfEven(kIntervalNumeratorOutsideTick, tempo);
    // While the loop runs this restarts the wait for the next tick from now.
    Timer1->setInterval(timerInterval);
    wakeAhead(*this);
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
