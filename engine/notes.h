// Note names: a letter, an optional "#" or "b", and an octave digit that changes at E, not at C
// ("E0" is the open low E string, "D#0" lies just below "E1").
#pragma once

#include "layers/rules.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace notes {

// Slot k (1..41) holds the note k-1 semitones above "E0", spelled with sharps; slot 0 is empty.
const std::array<std::string, 42>& chromaticTable();

// The written MIDI note number (60 is middle C), defined for exactly 71 names: "E0"/"Fb0" 40 up
// to "G#3" 80.  Anything else ("Eb0", "Ab3", "H1", "e1", "") has no number.
std::optional<int> writtenNumber(std::string_view name);

// What the player reads: the name without its octave digit ("F#1" shows "F#").  A name of one
// character gives the empty string.
std::string withoutOctave(std::string_view name);

// Sounding shift of the pitch list: -12 at bass guitar pitch (its first entry or none), 0 at
// concert pitch (its second entry).
int pitchShift(int pitchListIndex);

} // namespace notes
