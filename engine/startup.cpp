// The window's load and unload.
#include "engine/rounding.h"
#include "platform/msgbox.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "ui/clientarea.h"
#include "ui/editcombo.h"
#include "ui/opensign.h"
#include "ui/stavebass.h"

#include "ui/devicelist.h"
#include <QLabel>

#include <QListWidget>
#include <QTimer>

namespace {

void fill(EditCombo* combo, std::initializer_list<const char*> entries) {
    const QSignalBlocker block(combo);
    for (const char* e : entries) {
        combo->addItem(QString::fromUtf8(e));
    }
    // Filling selects nothing: the list keeps showing its prompt.
    combo->setListIndex(-1);
}

} // namespace

void stavebass::Form_Load() {
    // Messages of the load wait until the intro has handed over to this window.
    platform::holdMessages();
    checkpictures();
    stopWatch = std::make_unique<CStopWatch>(); // 1
    loadskin();                                 // 2
    Timer1->stop();                             // 3
    hide();                                     // 4
    auto* intro = new opensign(this);           // 5
    introWindow = intro;
    intro->show();
    MIDI_OUT::FillDeviceList(List1);       // 6
    opendefaultdevice();                   // 7
    MIDI_CMD::ProgramChange(0, 0, 34);     // 8
    for (std::size_t p = 1; p <= 4; ++p) { // 9
        nextBar[p] = "E1";
    }
    sourceX = 0; // 10
    sourceY = 0;
    noteVelocity = 127;         // 11
    loaddiatonics();            // 12
    alternateFromIndex = false; // 13
    tempo = 60;
    tempolabel->setText(QStringLiteral("60"));
    fill(fretposition,
         {"All over the Neck", "At the Nut", "1st Fret", "2nd Fret", "3rd Fret", // 14
          "4th Fret", "5th Fret", "6th Fret", "7th Fret", "8th Fret", "9th Fret", "10th Fret"});
    fill(accif, {"not often", "Occasionally", "More often", "All the Time"});
    fill(aspitch,
         {"Bass Guitar Pitch (octave lower than written)", "Concert Pitch Pitch (as written)"});
    fill(Keysignature,
         {"C", "G", "D", "A", "E", "B", "F#", "C#", "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"});
    fill(intervaldistance,
         {"Same String", "1 String Away", "2 Strings Away", "3 Strings Away", "On All Strings"});
    fill(Stringchoice, {"Low E-String", "A-String", "D-String", "G-String"});
    NoteArrayfill();                                  // 15
    const int32_t nextX[5] = {0, 470, 520, 570, 620}; // 16
    const int32_t currentX[5] = {0, 240, 290, 340, 390};
    for (std::size_t p = 1; p <= 4; ++p) {
        nextBarX[p] = nextX[p];
        currentBarX[p] = currentX[p];
    }
    beatNumber = 1;                                                         // 17
    signature();                                                            // 18
    tempolabel->setText(QString::number(tempo));                            // 19
    timerInterval = divRoundHalfEven(kMillisPerMinute, tempo);              // 20
    Timer1->setInterval(timerInterval);
    indexNote = "E0";              // 21
    Image3->lower();               // 22
    diatonicOnly = true;           // 23
    fretposition->setListIndex(1); // 24
    signature();                   // 25
}

void stavebass::Form_Unload() {
    unloaded = true;
    Timer1->stop();
    MIDI_OUT::CloseDevice();
}

void stavebass::exit_Click() {
    close();
}
