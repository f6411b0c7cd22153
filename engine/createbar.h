// How the notes of the waiting bar are written: the accidental sign each note carries under the
// key signature and the notes before it in the bar.
#pragma once

#include "layers/rules.h"

#include "engine/keys.h"

#include <array>
#include <cstdint>
#include <string>

namespace createbar {

enum Sign : int16_t { kNone = 0, kSharp = 1, kFlat = 2, kNatural = 3 };

using Bar = std::array<std::string, 5>; // positions 1..4, names with octave digits
using Signs = std::array<int16_t, 5>;   // positions 1..4

// The sign of each position.  A note foreign to the key shows its own sign unless the same name
// already stood earlier in the bar; a note that brings back an earlier letter with another
// accidental shows its own sign even when it belongs to the key.  Octaves play no part.
// `keyRows` is the key's row table; rows 0..7 are read.
Signs signs(const Bar& bar, const keys::KeyRows& keyRows);

// The signs the bar is written with: every sign of `signs`, and besides them a note's own sign
// wherever the accidental in force on its written line or space (the key signature's, changed by
// earlier signs on that same line or space) is not the note's own.  Read either way, letter by
// letter or line by line, every note then reads as the pitch it sounds.
Signs writtenSigns(const Bar& bar, const keys::KeyRows& keyRows);

} // namespace createbar
