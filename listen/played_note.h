// What the listening layer reports: one note the player plucked.
#pragma once

#include "layers/rules.h"

#include <cstdint>

namespace listen {

struct PlayedNote {
    // The onset on the program's monotonic clock, in nanoseconds (platform::monotonicNanos()),
    // worked out from the onset's sample position in the stream, not from when analysis ended.
    int64_t onsetNanos = 0;
    // Sounding pitch: MIDI note number (E1 of a bass = 28) and the deviation from it in cents
    // (-50 to +50).  MIDI input gives cents 0.
    int midi = 0;
    double cents = 0.0;
    // 0 to 1; MIDI input gives 1.
    double confidence = 0.0;
    // Input level at the onset, in dBFS (MIDI input: from the velocity).
    double levelDb = -120.0;
};

} // namespace listen
