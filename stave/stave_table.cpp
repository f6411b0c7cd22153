#include "stave/stave_table.h"

#include <array>

namespace {

struct Row {
    char letter;
    char octave;
    int16_t type;
    int16_t height;
};

constexpr std::array<Row, 19> kRows{{
    {'E', '0', 3, 149}, {'F', '0', 4, 126}, {'G', '0', 3, 127}, {'A', '0', 4, 104},
    {'B', '0', 3, 105}, {'C', '0', 2, 191}, {'D', '0', 1, 180}, {'E', '1', 2, 169},
    {'F', '1', 1, 158}, {'G', '1', 2, 147}, {'A', '1', 1, 136}, {'B', '1', 2, 125},
    {'C', '1', 1, 114}, {'D', '1', 2, 103}, {'E', '2', 1, 92},  {'F', '2', 2, 81},
    {'G', '2', 1, 70},  {'A', '2', 2, 60},  {'B', '2', 1, 48},
}};

std::optional<StavePlace> rowOf(char letter, char octave) {
    for (const Row& row : kRows) {
        if (row.letter == letter && row.octave == octave) {
            return StavePlace{row.type, row.height, false};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<StavePlace> staveLookup(std::string_view name) {
    if (name.size() < 2 || name.size() > 3) {
        return std::nullopt;
    }
    if (name.size() == 3 && name[1] != '#' && name[1] != 'b') {
        return std::nullopt;
    }
    const char letter = name.front();
    const char octave = name.back();
    if (auto place = rowOf(letter, octave)) {
        return place;
    }
    // Above B2: C2 and D2 (the octave digit changes at E) and E3, F3, G3.
    const bool above = (octave == '2' && (letter == 'C' || letter == 'D')) ||
                       (octave == '3' && (letter == 'E' || letter == 'F' || letter == 'G'));
    if (!above) {
        return std::nullopt;
    }
    auto place = rowOf(letter, static_cast<char>(octave - 1));
    if (place) {
        place->ottava = true;
    }
    return place;
}
