// The fifteen major keys the trainer drills and their scale notes.  Keys 0 to 7 are written with
// sharps, keys 8 to 14 with flats.  Each key spells the seven letters in the order E, F, G, A, B,
// C, D, because the open low E string begins every octave group of the note names.
#pragma once

#include "layers/rules.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace keys {

inline constexpr int kKeyCount = 15;
inline constexpr int kRowCount = 46; // rows 0..45; rows 0..24 carry the notes
inline constexpr int kLastNoteRow = 24;

using Diatonics = std::array<std::array<std::string, kRowCount>, kKeyCount>;
using KeyRows = std::array<std::string, kRowCount>;

// The key list texts in list order: "C", "G", ... "Cb".
const std::array<std::string_view, kKeyCount>& keyNames();

// The key's spelling of each letter, in the order E, F, G, A, B, C, D.
const std::array<std::array<std::string_view, 7>, kKeyCount>& scaleSpellings();

// A key with an index above 7 is written with flats.
inline bool isFlatKey(int keyIndex) {
    return keyIndex > 7;
}

// The diatonic table: row r (1..24) of key k holds the spelling of letter (r-1) mod 7 followed by
// the octave digit (r-1) div 7; row 0 holds the bare digit "0"; rows 25..45 stay empty.
Diatonics buildDiatonics();

// The list position of a key text, compared exactly ("Bb", not "bb" or "B flat").
std::optional<int> keyIndexOf(std::string_view name);

// The key's row table, with an out-of-range index read as key C.
const KeyRows& rowsOf(const Diatonics& table, int keyIndex);

} // namespace keys
