#include "engine/keys.h"

namespace keys {

const std::array<std::string_view, kKeyCount>& keyNames() {
    static constexpr std::array<std::string_view, kKeyCount> names{
        "C", "G", "D", "A", "E", "B", "F#", "C#", "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"};
    return names;
}

const std::array<std::array<std::string_view, 7>, kKeyCount>& scaleSpellings() {
    //                                                  E     F     G     A     B     C     D
    static constexpr std::array<std::array<std::string_view, 7>, kKeyCount> table{{
        {"E", "F", "G", "A", "B", "C", "D"},        // C
        {"E", "F#", "G", "A", "B", "C", "D"},       // G
        {"E", "F#", "G", "A", "B", "C#", "D"},      // D
        {"E", "F#", "G#", "A", "B", "C#", "D"},     // A
        {"E", "F#", "G#", "A", "B", "C#", "D#"},    // E
        {"E", "F#", "G#", "A#", "B", "C#", "D#"},   // B
        {"E#", "F#", "G#", "A#", "B", "C#", "D#"},  // F#
        {"E#", "F#", "G#", "A#", "B#", "C#", "D#"}, // C#
        {"E", "F", "G", "A", "Bb", "C", "D"},       // F
        {"Eb", "F", "G", "A", "Bb", "C", "D"},      // Bb
        {"Eb", "F", "G", "Ab", "Bb", "C", "D"},     // Eb
        {"Eb", "F", "G", "Ab", "Bb", "C", "Db"},    // Ab
        {"Eb", "F", "Gb", "Ab", "Bb", "C", "Db"},   // Db
        {"Eb", "F", "Gb", "Ab", "Bb", "Cb", "Db"},  // Gb
        {"Eb", "Fb", "Gb", "Ab", "Bb", "Cb", "Db"}, // Cb
    }};
    return table;
}

Diatonics buildDiatonics() {
    Diatonics table; // every string starts empty
    const auto& spellings = scaleSpellings();
    // The seven spellings of the first octave group.
    for (std::size_t k = 0; k < kKeyCount; ++k) {
        for (std::size_t c = 0; c < 7; ++c) {
            table[k][c + 1] = std::string(spellings[k][c]);
        }
    }
    // The letters repeat every seven rows.
    for (std::size_t r = 8; r <= kLastNoteRow; ++r) {
        for (std::size_t k = 0; k < kKeyCount; ++k) {
            table[k][r] = table[k][r - 7];
        }
    }
    // The octave digit goes up after rows 7, 14 and 21; row 0 is left with the digit alone.
    int octave = 0;
    for (std::size_t r = 0; r <= kLastNoteRow; ++r) {
        for (std::size_t k = 0; k < kKeyCount; ++k) {
            table[k][r] += static_cast<char>('0' + octave);
        }
        if (r == 7 || r == 14 || r == 21) {
            ++octave;
        }
    }
    return table;
}

std::optional<int> keyIndexOf(std::string_view name) {
    const auto& names = keyNames();
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (names[k] == name) {
            return static_cast<int>(k);
        }
    }
    return std::nullopt;
}

const KeyRows& rowsOf(const Diatonics& table, int keyIndex) {
    if (keyIndex < 0 || keyIndex >= kKeyCount) {
        keyIndex = 0;
    }
    return table[static_cast<std::size_t>(keyIndex)];
}

} // namespace keys
