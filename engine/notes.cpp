#include "engine/notes.h"

namespace notes {

const std::array<std::string, 42>& chromaticTable() {
    static const std::array<std::string, 42> table = [] {
        static constexpr std::array<const char*, 12> names{"E",  "F", "F#", "G",  "G#", "A",
                                                           "A#", "B", "C",  "C#", "D",  "D#"};
        std::array<std::string, 42> t{};
        for (int k = 1; k <= 41; ++k) {
            const int semis = k - 1;
            t[static_cast<std::size_t>(k)] =
                std::string(names[static_cast<std::size_t>(semis % 12)]) +
                static_cast<char>('0' + semis / 12);
        }
        return t;
    }();
    return table;
}

std::optional<int> writtenNumber(std::string_view name) {
    if (name.size() < 2 || name.size() > 3) {
        return std::nullopt;
    }
    int letter = 0;
    switch (name[0]) {
    case 'E':
        letter = 0;
        break;
    case 'F':
        letter = 1;
        break;
    case 'G':
        letter = 3;
        break;
    case 'A':
        letter = 5;
        break;
    case 'B':
        letter = 7;
        break;
    case 'C':
        letter = 8;
        break;
    case 'D':
        letter = 10;
        break;
    default:
        return std::nullopt;
    }
    int accidental = 0;
    if (name.size() == 3) {
        if (name[1] == '#') {
            accidental = 1;
        } else if (name[1] == 'b') {
            accidental = -1;
        } else {
            return std::nullopt;
        }
    }
    const char digit = name.back();
    if (digit < '0' || digit > '3') {
        return std::nullopt;
    }
    const int octave = digit - '0';
    // Octave 3 holds only E, F and G (with their sharps and flats); "Eb0" would lie below the
    // open low E string.
    if (octave == 3 && name[0] != 'E' && name[0] != 'F' && name[0] != 'G') {
        return std::nullopt;
    }
    if (octave == 0 && name[0] == 'E' && accidental == -1) {
        return std::nullopt;
    }
    return 40 + letter + accidental + 12 * octave;
}

std::string withoutOctave(std::string_view name) {
    if (name.empty()) {
        return {};
    }
    return std::string(name.substr(0, name.size() - 1));
}

int pitchShift(int pitchListIndex) {
    return pitchListIndex == 1 ? 0 : -12;
}

} // namespace notes
