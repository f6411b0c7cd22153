#include "engine/beatclock.h"

#include <algorithm>

namespace engine {

namespace {
// a * b / c rounded to the nearest whole number, for a >= 0 and b, c > 0, without the product
// overflowing for any practice (a is a count of beats, b a minute in nanoseconds).
int64_t mulDivRound(int64_t a, int64_t b, int64_t c) {
    const int64_t whole = a / c;
    const int64_t rest = a % c;
    return whole * b + (rest * b + c / 2) / c;
}
} // namespace

int64_t BeatClock::beatNanos(int tempo) {
    const int64_t t = std::max(tempo, 1);
    return (nanosPerMinute + t / 2) / t;
}

void BeatClock::start(int64_t now, int tempo) {
    tempo_ = std::max(tempo, 1);
    anchor_ = now;
    anchorBeat_ = 0;
    played_ = 0;
    running_ = true;
}

void BeatClock::setTempo(int tempo, int64_t earliest) {
    tempo = std::max(tempo, 1);
    if (!running_) {
        tempo_ = tempo;
        return;
    }
    // The new grid runs from the last beat played.
    anchor_ = last();
    anchorBeat_ = played_;
    tempo_ = tempo;
    if (next() < earliest) {
        moveNext(earliest);
    }
}

void BeatClock::catchUp(int64_t now) {
    if (running_ && next() < now - period() / 4) {
        moveNext(now);
    }
}

void BeatClock::moveNext(int64_t earliest) {
    anchor_ = earliest - beatNanos(tempo_);
    anchorBeat_ = played_;
}

int64_t BeatClock::at(int64_t n) const {
    const int64_t beats = n - anchorBeat_;
    if (beats >= 0) {
        return anchor_ + mulDivRound(beats, nanosPerMinute, tempo_);
    }
    return anchor_ - mulDivRound(-beats, nanosPerMinute, tempo_);
}

} // namespace engine
