#include "sound/midi_cmd.h"

#include "sound/midi_out.h"

namespace MIDI_CMD {

void ControlChange(int16_t channel, int16_t controller, int16_t value) {
    MIDI_OUT::SendShortMessage(static_cast<int16_t>(0xB0 + channel), controller, value);
}

void NoteOn(int16_t channel, int16_t note, int16_t velocity) {
    MIDI_OUT::SendShortMessage(static_cast<int16_t>(0x90 + channel), note, velocity);
}

void NoteOff(int16_t channel, int16_t note) {
    MIDI_OUT::SendShortMessage(static_cast<int16_t>(0x90 + channel), note, 0);
}

void ProgramChange(int16_t channel, int16_t bank, int16_t program) {
    ControlChange(channel, 0, bank);
    MIDI_OUT::SendShortMessage(static_cast<int16_t>(0xC0 + channel), program, 0);
}

} // namespace MIDI_CMD
