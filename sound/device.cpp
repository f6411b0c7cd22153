// The window's side of the MIDI output: the device list, the volume and the bass sound.
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "ui/stavebass.h"

#include "ui/devicelist.h"

#include <QListWidget>
#include <QScrollBar>

void stavebass::opendefaultdevice() {
    MIDI_OUT::CloseDevice();
    if (List1->count() == 0) {
        return; // no device at all: nothing to open, and every send says so
    }
    MIDI_OUT::OpenDevice(static_cast<int16_t>(List1->item(0)->data(Qt::UserRole).toInt()));
}

void stavebass::List1_Click() {
    QListWidgetItem* item = List1->currentItem();
    if (item == nullptr) {
        return;
    }
    MIDI_OUT::CloseDevice();
    MIDI_OUT::OpenDevice(static_cast<int16_t>(item->data(Qt::UserRole).toInt()));
    MIDI_CMD::ProgramChange(0, 0, 34);
}

void stavebass::VScroll1_Change() {
    noteVelocity = static_cast<int16_t>(VScroll1->value());
}
