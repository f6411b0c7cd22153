// The choice of one note of the waiting bar: a note that a hand whose index finger rests at the
// chosen fret of the main string can reach, from the key's scale rows or, when accidentals are
// allowed and the odds say so, from all semitones.
#pragma once

#include "layers/rules.h"

#include "engine/keys.h"
#include "engine/random.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace reach {

using NoteTable = std::array<std::string, 42>;
// (lower reach, upper reach) by main string (rows) and string distance (columns).
using Window = std::array<std::array<std::pair<int, int>, 5>, 4>;

// In semitones around the index finger's chromatic slot.
inline constexpr Window kChromaticWindow{{
    {{{0, 5}, {0, 10}, {0, 15}, {0, 20}, {0, 24}}},
    {{{0, 5}, {5, 10}, {5, 15}, {5, 19}, {5, 24}}},
    {{{0, 5}, {5, 10}, {10, 14}, {10, 19}, {10, 19}}},
    {{{0, 5}, {5, 10}, {10, 14}, {15, 14}, {15, 14}}},
}};

// In scale rows around the index finger's row.
inline constexpr Window kScaleWindow{{
    {{{0, 2}, {0, 5}, {0, 8}, {0, 11}, {0, 14}}},
    {{{0, 2}, {3, 5}, {3, 8}, {3, 11}, {3, 13}}},
    {{{0, 2}, {3, 5}, {6, 8}, {6, 10}, {6, 10}}},
    {{{0, 2}, {3, 5}, {6, 7}, {9, 7}, {9, 7}}},
}};

struct Settings {
    int s = 0;  // main string, 0..3
    int f = 0;  // fret position, 0 "All over the Neck", 1 "At the Nut", 2.. the frets
    int t = 0;  // string distance, 0..4
    int a = -1; // accidental odds, -1 (none chosen) .. 3 "All the Time"
    bool diatonicOnly = true;
    int keyIndex = 0;
};

struct IndexFinger {
    std::string_view note;    // N, with its octave digit
    int pos = 1;              // P, its chromatic slot
    int row = 1;              // R, its scale row
    std::string_view caption; // C, N without the octave digit
};

// Rounds to the nearest whole number, halves to the even neighbour.
int roundHalfEven(double x);

// One note of the bar.  Draws from `random` in the order the choice needs them: the note-space
// coin (only when the odds decide), the pick, the respelling coin (chromatic), the row pick
// ("All over the Neck", scale) and the one-in-eight index-finger note.
std::string note(const Settings& settings, const IndexFinger& finger, const NoteTable& noteNames,
                 const keys::Diatonics& diatonics, RandomSource& random);

} // namespace reach
