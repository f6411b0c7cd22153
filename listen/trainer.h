// The tempo trainer's rules: at the end of each bar, whether the tempo moves and to what.  Pure:
// the window keeps the settings and the run, hands in the bar's verdicts and moves the tempo bar.
#pragma once

#include "layers/rules.h"

#include <optional>
#include <string>

namespace listen {

enum class TrainerMode {
    EveryBars, // up by the step every N bars until the target
    FollowMe,  // up after a bar all right, down after a bar with two or more beats not right
};

// The tempo bar's range: no move goes outside it.
struct TempoRange {
    int min = 30;
    int max = 200;
};

struct TrainerSettings {
    static constexpr int kMinStep = 2;
    static constexpr int kMaxStep = 10;
    static constexpr int kMinBars = 1;
    static constexpr int kMaxBars = 16;
    int target = 120;
    int step = 4;
    TrainerMode mode = TrainerMode::EveryBars;
    int bars = 2;
    // Every value brought inside its range (a hand-edited configuration file may hold anything).
    TrainerSettings sanitized(TempoRange range) const;
};

// One run of the trainer, from the moment it is switched on.
struct TrainerRun {
    int startTempo = 60; // follow me never goes below it
    int barsCounted = 0; // bars since the last step, for every N bars
};

// The verdicts of one bar: beats played right, and beats early, late, in the wrong octave, wrong
// or missed.
struct BarVerdicts {
    int right = 0;
    int notRight = 0;
};

// Called once at the end of every bar.  `judged` is a bar whose every beat has its verdict
// (follow me; none when no bar was newly decided).  Returns the new tempo, or none when the tempo
// stays.
std::optional<int> nextTempo(const TrainerSettings& settings, TrainerRun& run, int tempo,
                             std::optional<BarVerdicts> judged, TempoRange range);

// "Tempo trainer: 96 → 120, +4 every 2 bars" or "Tempo trainer: 96 → 120, +4 follow me",
// with the tempo now first.
std::string trainerText(const TrainerSettings& settings, int tempo, bool listening);

} // namespace listen
