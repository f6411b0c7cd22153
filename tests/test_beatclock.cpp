#include "engine/beatclock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using engine::BeatClock;

constexpr int64_t ms = 1'000'000;
constexpr int64_t s = 1'000'000'000;

// A practice as a list of steps; after each, the time of the next beat to be played.
struct Step {
    enum Op { Start, Play, Tempo, CatchUp, Stop } op;
    int64_t time = 0; // the start, the earliest time for a tempo change, or the catch-up time
    int tempo = 0;
    int64_t next = 0; // expected next() afterwards (unchecked after Stop)
};

struct Practice {
    std::string name;
    std::vector<Step> steps;
};

TEST(BeatClock, PracticesFallOnTheirBeats) {
    const std::vector<Practice> practices = {
        {"beats a beat apart from one beat after the start",
         {{Step::Start, 5 * s, 60, 6 * s}, {Step::Play, 0, 0, 7 * s}, {Step::Play, 0, 0, 8 * s}}},
        {"a beat that is no whole number of nanoseconds keeps to the tempo",
         // 60 / 140 s = 428571428.57 ns: beat 7 falls exactly 3 s after the start.
         {{Step::Start, 0, 140, 428'571'429},
          {Step::Play, 0, 0, 857'142'857},
          {Step::Play, 0, 0, 1'285'714'286},
          {Step::Play, 0, 0, 1'714'285'714},
          {Step::Play, 0, 0, 2'142'857'143},
          {Step::Play, 0, 0, 2'571'428'571},
          {Step::Play, 0, 0, 3 * s}}},
        {"a faster tempo from the next beat: one new beat after the last",
         {{Step::Start, 0, 60, 1 * s},
          {Step::Play, 0, 0, 2 * s},
          {Step::Play, 0, 0, 3 * s},
          {Step::Tempo, 2'100 * ms, 120, 2'500 * ms},
          {Step::Play, 0, 0, 3 * s},
          {Step::Play, 0, 0, 3'500 * ms}}},
        {"a tempo change before any beat counts from the start",
         {{Step::Start, 0, 60, 1 * s}, {Step::Tempo, 100 * ms, 30, 2 * s}}},
        {"a tempo change whose next beat has passed plays it at the earliest time",
         {{Step::Start, 0, 60, 1 * s},
          {Step::Play, 0, 0, 2 * s},
          {Step::Play, 0, 0, 3 * s},
          {Step::Tempo, 2'950 * ms, 200, 2'950 * ms},
          {Step::Play, 0, 0, 3'250 * ms}}},
        {"a late tick lets the beats go on from it, not rush",
         {{Step::Start, 0, 60, 1 * s},
          {Step::Play, 0, 0, 2 * s},
          {Step::CatchUp, 1'500 * ms, 0, 2 * s}, // not late: nothing moves
          {Step::CatchUp, 2'200 * ms, 0,
           2 * s}, // late by under a quarter: played late, on the grid
          {Step::CatchUp, 4'200 * ms, 0, 4'200 * ms},
          {Step::Play, 0, 0, 5'200 * ms}}},
        {"stopped, a tempo waits for the next start, which begins afresh",
         {{Step::Start, 0, 60, 1 * s},
          {Step::Play, 0, 0, 2 * s},
          {Step::Stop},
          {Step::Tempo, 0, 120, 0},
          {Step::CatchUp, 50 * s, 0, 0},
          {Step::Start, 10 * s, 120, 10'500 * ms},
          {Step::Play, 0, 0, 11 * s}}},
    };
    for (const Practice& p : practices) {
        BeatClock clock;
        for (std::size_t i = 0; i < p.steps.size(); ++i) {
            const Step& step = p.steps[i];
            switch (step.op) {
            case Step::Start:
                clock.start(step.time, step.tempo);
                break;
            case Step::Play:
                clock.advance();
                break;
            case Step::Tempo:
                clock.setTempo(step.tempo, step.time);
                break;
            case Step::CatchUp:
                clock.catchUp(step.time);
                break;
            case Step::Stop:
                clock.stop();
                break;
            }
            if (clock.running()) {
                EXPECT_EQ(clock.next(), step.next) << p.name << ", step " << i;
            } else {
                EXPECT_NE(step.op, Step::Start) << p.name;
            }
        }
    }
}

TEST(BeatClock, ALongPracticeDoesNotDrift) {
    // A million beats at 173 (about 96 hours): beat n stays at the nearest nanosecond to
    // n x 60 / 173 s, where adding up the rounded beat would be a quarter of a millisecond off.
    for (const int tempo : {30, 173, 200}) {
        BeatClock clock;
        clock.start(0, tempo);
        const int64_t beats = 1'000'000;
        for (int64_t n = 1; n < beats; ++n) {
            clock.advance();
        }
        const int64_t exact = beats * BeatClock::nanosPerMinute; // 6e16 fits
        const int64_t expected = (exact + tempo / 2) / tempo;
        EXPECT_EQ(clock.next(), expected) << "tempo " << tempo;
    }
}

} // namespace
