#include "platform/clock.h"
#include "sound/stopwatch.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

// A clock that returns the scripted counts in turn, then stays on the last one plus whatever the
// test adds.
struct ScriptedClock {
    std::deque<uint32_t> counts;
    uint32_t last = 0;
    int reads = 0;
    ScriptedClock() {
        platform::setClock([this] {
            ++reads;
            if (!counts.empty()) {
                last = counts.front();
                counts.pop_front();
            }
            return last;
        });
    }
    ~ScriptedClock() { platform::setClock({}); }
};

TEST(StopWatch, ResetWaitsForAFreshMillisecond) {
    ScriptedClock clock;
    // The count sits on 5 for a while, moves to 6: the measurement starts on the 6 read after.
    clock.counts = {5, 5, 5, 5, 6, 6};
    CStopWatch watch;
    EXPECT_EQ(clock.reads, 6);
    clock.counts = {6};
    EXPECT_EQ(watch.Elapsed(), 0);
    clock.counts = {9};
    EXPECT_EQ(watch.Elapsed(), 3);
}

TEST(StopWatch, ElapsedIsTheSignedDifferenceAcrossTheWrap) {
    struct Case {
        uint32_t start, later;
        int32_t elapsed;
    };
    const Case cases[] = {
        {0xFFFFFFF0u, 0x00000010u, 0x20}, // wraps from the largest count to 0
        {0xFFFFFFFFu, 0x00000000u, 1},
        {0x7FFFFFFFu, 0x80000005u, 6}, // passes the signed boundary
        {1000u, 1930u, 930},
        {1000u, 1000u, 0},
    };
    for (const auto& c : cases) {
        ScriptedClock clock;
        clock.counts = {c.start - 1, c.start, c.start};
        CStopWatch watch;
        clock.counts = {c.later};
        EXPECT_EQ(watch.Elapsed(), c.elapsed) << std::hex << c.start << " to " << c.later;
    }
}

TEST(StopWatch, SuccessiveResetsStartOnDifferentCounts) {
    uint32_t now = 100;
    platform::setClock([&now] { return now++; });
    CStopWatch watch;
    watch.Reset();
    const uint32_t afterFirst = now;
    watch.Reset();
    EXPECT_GT(now, afterFirst + 1);
    EXPECT_GE(watch.Elapsed(), 0);
    EXPECT_LE(watch.Elapsed(), 2);
    platform::setClock({});
}

TEST(StopWatch, RealClockMeasuresSmallNonNegativeTimes) {
    CStopWatch watch;
    watch.Reset();
    const int32_t e = watch.Elapsed();
    EXPECT_GE(e, 0);
    EXPECT_LT(e, 50);
    EXPECT_GE(watch.MinimumResolution(), 0);
}

} // namespace
