// The capture stream's clock: blocks placed by their sample count, not by when their callbacks
// ran.
#include "platform/stream_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using platform::StreamClock;

namespace {

constexpr int64_t ms = 1'000'000;

struct Step {
    int64_t nowNanos;
    int64_t frames;
    int rate;
    bool overflowed = false;
    int64_t reportedLost = -1;
    bool restart = false; // reset() before the block
    int64_t wantFirst = 0;
    int64_t wantLost = 0;
};

struct Case {
    std::string name;
    int64_t latencyFrames;
    std::vector<Step> steps;
};

// 480 frames at 48 kHz are 10 ms; the first callback at 1010 ms with no latency puts sample 0 at
// 1000 ms.
const std::vector<Case> cases = {
    {"callbacks that run late leave the stamps on the count",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1023 * ms, 480, 48000, false, -1, false, 1010 * ms, 0},
      {1031 * ms, 480, 48000, false, -1, false, 1020 * ms, 0},
      {1090 * ms, 480, 48000, false, -1, false, 1030 * ms, 0},
      {1091 * ms, 480, 48000, false, -1, false, 1040 * ms, 0}}},
    {"the stream's latency is before the first callback",
     960,
     {{1030 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1045 * ms, 480, 48000, false, -1, false, 1010 * ms, 0}}},
    {"a restarted stream anchors afresh",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1020 * ms, 480, 48000, false, -1, false, 1010 * ms, 0},
      {5010 * ms, 480, 48000, false, -1, true, 5000 * ms, 0},
      {5021 * ms, 480, 48000, false, -1, false, 5010 * ms, 0}}},
    {"a new rate anchors afresh",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1030 * ms, 441, 44100, false, -1, false, 1020 * ms, 0},
      {1040 * ms, 441, 44100, false, -1, false, 1030 * ms, 0}}},
    {"lost samples the stream reports move the count on",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1040 * ms, 480, 48000, true, 960, false, 1030 * ms, 960},
      {1050 * ms, 480, 48000, false, -1, false, 1040 * ms, 0}}},
    {"lost samples it does not count are measured by the callback time",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1070 * ms, 480, 48000, true, -1, false, 1060 * ms, 2400},
      {1080 * ms, 480, 48000, false, -1, false, 1070 * ms, 0}}},
    {"an overflow with the callback on time loses nothing",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1019 * ms, 480, 48000, true, -1, false, 1010 * ms, 0}}},
    {"callbacks far from the count without an overflow anchor afresh",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {2020 * ms, 480, 48000, false, -1, false, 2010 * ms, 0},
      {2030 * ms, 480, 48000, false, -1, false, 2020 * ms, 0}}},
    {"hours of samples keep their place",
     0,
     {{1010 * ms, 480, 48000, false, -1, false, 1000 * ms, 0},
      {1010 * ms + 3600'000 * ms, 48000LL * 3600, 48000, false, -1, false, 1010 * ms, 0},
      {1020 * ms + 3600'000 * ms, 480, 48000, false, -1, false, 1010 * ms + 3600'000 * ms, 0}}},
};

} // namespace

TEST(StreamClock, PlacesBlocksByTheirSampleCount) {
    for (const Case& c : cases) {
        StreamClock clock;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            if (s.restart) {
                clock.reset();
            }
            const StreamClock::Block b = clock.block(s.nowNanos, s.frames, s.rate, c.latencyFrames,
                                                     s.overflowed, s.reportedLost);
            EXPECT_EQ(b.firstNanos, s.wantFirst) << c.name << ", block " << i;
            EXPECT_EQ(b.lostFrames, s.wantLost) << c.name << ", block " << i;
        }
    }
}

// Minutes of 10 ms blocks: a card whose clock runs apart from the monotonic one is followed, and
// callbacks late by up to 5 ms (the first one on time) never move the stamps.
TEST(StreamClock, FollowsTheCardsDriftButNotLateCallbacks) {
    const struct {
        const char* name;
        double ppm;       // how much faster the monotonic clock runs than the card's
        double maxLateMs; // callbacks late by up to this, at random
        double withinMs;  // the last stamp's distance from the true time, at most
    } cases[] = {{"on time", 0.0, 0.0, 0.001},
                 {"late callbacks", 0.0, 5.0, 0.2},
                 {"a slow card", 100.0, 0.0, 0.5},
                 {"a fast card", -100.0, 0.0, 0.5},
                 {"a slow card and late callbacks", 100.0, 5.0, 0.5}};
    for (const auto& c : cases) {
        StreamClock clock;
        std::mt19937 random(7);
        std::uniform_real_distribution<double> late(0.0, c.maxLateMs);
        double worstMs = 0.0;
        constexpr int blocks = 60000; // ten minutes
        for (int i = 0; i < blocks; ++i) {
            // Block i's first sample is heard at i * 10 ms of the card's time.
            const double trueMs = i * 10.0 * (1.0 + c.ppm * 1e-6);
            const double callbackMs =
                trueMs + 10.0 * (1.0 + c.ppm * 1e-6) + (i == 0 ? 0.0 : late(random));
            const StreamClock::Block b = clock.block(std::llround(callbackMs * 1e6), 480, 48000, 0);
            EXPECT_EQ(b.lostFrames, 0) << c.name;
            if (i > blocks - 100) {
                worstMs =
                    std::max(worstMs, std::fabs(static_cast<double>(b.firstNanos) / 1e6 - trueMs));
            }
        }
        EXPECT_LT(worstMs, c.withinMs) << c.name;
    }
}

TEST(StreamClock, ABadRateStampsTheCallbackTime) {
    StreamClock clock;
    EXPECT_EQ(clock.block(1000 * ms, 480, 0, 0).firstNanos, 1000 * ms);
    EXPECT_EQ(clock.position(), 0);
}
