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
    }
}

void stavebass::Stop_Click() {
    Timer1->stop();
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
