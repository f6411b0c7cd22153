// Latency calibration: eight clicks at a fixed tempo, the player plucking along (or Clefwork
// hearing itself), and the median of the offsets kept as the latency.
#pragma once

#include "layers/rules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace listen {

struct Calibration {
    std::vector<std::optional<double>> offsetsMs; // per click: the first note near it
    double medianMs = 0.0;
    double spreadMs = 0.0; // the median distance of the offsets from their median
    int heard = 0;
    bool trusted = false;
    std::string verdict; // what the dialog says
};

inline constexpr int kCalibrationClicks = 8;
inline constexpr int kCalibrationTempo = 100;
// At least this many clicks must be answered, and their spread at most this wide.
inline constexpr int kCalibrationMinHeard = 6;
inline constexpr double kCalibrationMaxSpreadMs = 20.0;

// A latency calibration can find: a note answers a click within half the click period.
inline constexpr double kCalibrationMaxLatencyMs = 30000.0 / kCalibrationTempo;

// A latency read back from the settings, as the matcher may use it: one that calibration could
// not have found (not a number, infinite, beyond half a click period either way) is no latency.
double usableLatencyMs(double storedMs);

// Click and note times on the monotonic clock (nanoseconds).  A note answers the click it lies
// nearest to within half the click period; a click's first note counts.
Calibration calibrate(const std::vector<int64_t>& clicks, const std::vector<int64_t>& notes,
                      int64_t periodNanos);

} // namespace listen
