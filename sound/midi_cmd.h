// Channel messages, built on MIDI_OUT.  A note-off is a note-on with velocity 0.
#pragma once

#include "layers/platform.h"

#include <cstdint>

namespace MIDI_CMD {

void ControlChange(int16_t channel, int16_t controller, int16_t value);
void NoteOn(int16_t channel, int16_t note, int16_t velocity);
void NoteOff(int16_t channel, int16_t note);
// Bank select (controller 0) with the bank, then the program change.
void ProgramChange(int16_t channel, int16_t bank, int16_t program);

} // namespace MIDI_CMD
