// The note under the index finger: from the main string and the fret position, spelled as the
// key spells it, with its place in the chromatic table and in the key's scale rows.
#pragma once

#include "layers/rules.h"

#include "engine/keys.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace indexnote {

using NoteTable = std::array<std::string, 42>;

struct IndexNote {
    std::string note;    // with its octave digit, e.g. "F#1", "Bb0", "Eb1"
    int16_t pos = 1;     // its slot in the chromatic table, 1..41
    int16_t row = 1;     // the scale row that stands for it
    std::string caption; // the note without its octave digit, as the finger label shows it
};

// Open-string offsets in semitones above the open low E string: E, A, D, G.
inline constexpr std::array<int, 4> kOpenString{0, 5, 10, 15};

// s: main-string list index (-1 when none is selected: the previous note and slot are kept);
// f: fret-position list index (0 and 1 are both the open string).
IndexNote find(int s, int f, int keyIndex, const NoteTable& noteNames,
               const keys::Diatonics& diatonics, std::string_view previousNote, int previousPos);

} // namespace indexnote
