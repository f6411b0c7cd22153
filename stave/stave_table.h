// Where a note sits on the bass stave: the sprite that draws it and the window row of the
// sprite's top edge.  "G0" is on the bottom line, "A1" on the top line; a sharp or flat sits on
// its letter's row ("Eb0" on the row of "E0").
#pragma once

#include "layers/rules.h"

#include <cstdint>
#include <optional>
#include <string_view>

struct StavePlace {
    int16_t type = 0;    // 1 line/stem down, 2 space/stem down, 3 line/stem up, 4 space/stem up
    int16_t height = 0;  // window row of the sprite's top edge
    bool ottava = false; // written an octave lower, to be read an octave higher (8va)
};

// The rows run from "E0" to "B2".  The notes above them that the generator can deliver (C2, D2,
// E3, F3, G3, with or without a sharp or flat) are placed an octave lower, on the rows of C1, D1,
// E2, F2 and G2, under an 8va mark.  Anything else has no place.
std::optional<StavePlace> staveLookup(std::string_view name);
