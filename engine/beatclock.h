// When each beat of a practice falls.  Times are nanoseconds on the clock the sound is played by
// (the synthesiser's samples, or the monotonic clock for an outside device).  Beat n after a
// start falls at exactly start + n x 60000 / tempo ms, however late or early the ticks that play
// them run, so a practice never drifts from the tempo shown.  A tempo change takes effect from
// the next beat that has not been played yet: that beat falls one new beat after the last one.
#pragma once

#include "layers/rules.h"

#include <cstdint>

namespace engine {

class BeatClock {
public:
    static constexpr int64_t nanosPerMinute = 60'000'000'000LL;

    // The length of a beat at this tempo, rounded to the nearest nanosecond.
    static int64_t beatNanos(int tempo);

    // Beats begin: the first falls one beat after now.
    void start(int64_t now, int tempo);
    // Beats end; start() begins them again from a new time.
    void stop() { running_ = false; }
    bool running() const { return running_; }

    // A new tempo.  Stopped, it is kept for the next start.  Running, the next beat not yet
    // played falls one new beat after the last one played (or after the start); when that is
    // already earlier than earliest (the tick could no longer reach it), it falls at earliest
    // and the beats go on from there.
    void setTempo(int tempo, int64_t earliest);
    int tempo() const { return tempo_; }

    // When the next beat fell more than a quarter of a beat before now (its tick ran that late:
    // a long message box, a machine that slept), the beats go on from now instead: missed beats
    // are not played in a rush.  A tick late by less plays its beat at once and the beats stay
    // on their grid.
    void catchUp(int64_t now);

    // The time of the next beat to be played.
    int64_t next() const { return at(played_ + 1); }
    // The time of the beat played last (the start before any was played).
    int64_t last() const { return at(played_); }
    // How many beats have been played since the start.
    int64_t played() const { return played_; }
    // The next beat has been played.
    void advance() { ++played_; }
    // The current beat length.
    int64_t period() const { return beatNanos(tempo_); }

private:
    // The next beat falls at earliest, and the beats go on from there.
    void moveNext(int64_t earliest);
    // Beat n (counted from the start) on the current tempo's grid.
    int64_t at(int64_t n) const;

    bool running_ = false;
    int tempo_ = 60;
    // The grid: beat anchorBeat_ falls at anchor_, and beats follow at tempo_.
    int64_t anchor_ = 0;
    int64_t anchorBeat_ = 0;
    int64_t played_ = 0;
};

} // namespace engine
