// Scheduled sound rendered offline: the built-in synthesiser's sequencer plays each click on
// the block of samples its time falls in, however the sends are spread over the rendering.
#include "platform/fluid_engine.h"
#include "platform/fluid_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

using platform::FluidEngine;
using platform::FluidScheduler;

constexpr const char* kFluidR3 = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
constexpr double kRate = 48000.0;

uint32_t pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status | (data1 << 8) | (data2 << 16));
}

// The first sample of each click: where the signal rises above a tenth of its peak after at
// at least 5 ms under 3 % of it (the click before has died away by then).
std::vector<int64_t> onsets(const std::vector<float>& x) {
    float peak = 0.0f;
    for (float v : x) {
        peak = std::max(peak, std::fabs(v));
    }
    std::vector<int64_t> found;
    const auto quietNeeded = static_cast<int64_t>(0.005 * kRate);
    int64_t quiet = quietNeeded;
    bool armed = true;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float a = std::fabs(x[i]);
        if (a < 0.03f * peak) {
            armed = armed || ++quiet >= quietNeeded;
            continue;
        }
        quiet = 0;
        if (armed && a > 0.1f * peak) {
            found.push_back(static_cast<int64_t>(i));
            armed = false;
        }
    }
    return found;
}

TEST(ScheduledSound, ClicksLandOnTheirSamplesWhateverTheSendsDo) {
    if (!std::ifstream(kFluidR3).good()) {
        GTEST_SKIP() << kFluidR3 << " is not installed (fluid-soundfont-gm)";
    }
    FluidEngine engine;
    std::string error;
    ASSERT_TRUE(engine.loadFile(kFluidR3, error, kRate)) << error;
    FluidScheduler scheduler(engine.synth());
    ASSERT_TRUE(scheduler.ok());
    EXPECT_EQ(scheduler.nowNanos(), 0);

    // Tempo 137 (437.956 ms a beat, no whole number of milliseconds or blocks), side-stick
    // clicks; each is sent between 10 and 90 ms ahead of its time, at a block boundary that
    // varies, as ticks on a busy event thread would send them.
    constexpr int tempo = 137;
    constexpr int beats = 24;
    const double beatNanos = 60e9 / tempo;
    const int64_t first = 500'000'000;
    auto due = [&](int n) { return first + std::llround(n * beatNanos); };
    std::vector<float> left;
    std::vector<float> right(64);
    std::vector<float> block(64);
    int next = 0;
    const auto total = static_cast<int64_t>((first + beats * beatNanos) / 1e9 * kRate) + 9600;
    while (static_cast<int64_t>(left.size()) < total) {
        const int64_t now = scheduler.nowNanos();
        const int64_t ahead = 10'000'000 + (next * 37 % 9) * 10'000'000;
        if (next < beats && now >= due(next) - ahead) {
            ASSERT_TRUE(scheduler.sendAt(pack(0x99, 37, 0), due(next)));
            ASSERT_TRUE(scheduler.sendAt(pack(0x99, 37, 100), due(next)));
            ++next;
        }
        engine.render(block.data(), right.data(), 64);
        left.insert(left.end(), block.begin(), block.end());
    }
    const std::vector<int64_t> heard = onsets(left);
    ASSERT_EQ(heard.size(), static_cast<std::size_t>(beats));
    // Each click speaks in the 64-sample block its millisecond falls in (the sample's own
    // start after its note-on is the same for every click).
    const double lead = static_cast<double>(heard[0]) - due(0) * kRate / 1e9;
    double worst = 0.0;
    for (int n = 0; n < beats; ++n) {
        const double off =
            static_cast<double>(heard[static_cast<std::size_t>(n)]) - due(n) * kRate / 1e9 - lead;
        worst = std::max(worst, std::fabs(off));
    }
    EXPECT_LE(worst, 64.0 + kRate / 1000.0) << "a block and the millisecond of the sequencer";
    // The tempo heard is the tempo asked for.
    const double heardBeat = static_cast<double>(heard.back() - heard.front()) / (beats - 1);
    EXPECT_NEAR(heardBeat / (beatNanos * kRate / 1e9), 1.0, 1e-4);
}

TEST(ScheduledSound, MessagesThatAreNoMessagesAreRefusedAndCancelDropsWhatWaits) {
    if (!std::ifstream(kFluidR3).good()) {
        GTEST_SKIP() << kFluidR3 << " is not installed (fluid-soundfont-gm)";
    }
    FluidEngine engine;
    std::string error;
    ASSERT_TRUE(engine.loadFile(kFluidR3, error, kRate)) << error;
    engine.ensurePreset(0);
    FluidScheduler scheduler(engine.synth());
    EXPECT_FALSE(scheduler.sendAt(0x40u, 0)) << "no status byte";
    EXPECT_FALSE(scheduler.sendAt(pack(0x90, 200, 1), 0)) << "a data byte above 127";
    ASSERT_TRUE(scheduler.sendAt(pack(0x90, 40, 100), 100'000'000));
    scheduler.cancel();
    std::vector<float> left(9600);
    std::vector<float> right(9600);
    engine.render(left.data(), right.data(), 9600);
    const float peak = std::fabs(*std::max_element(
        left.begin(), left.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
    EXPECT_LT(peak, 1e-6f) << "the note was dropped before its time";
}

} // namespace
