// The generator under every setting the lists offer, and the random generator over long runs.
#include "engine/notes.h"
#include "engine/random.h"
#include "stave/stave_table.h"
#include "support/engine_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

using enginetest::Finger;
using enginetest::makeBar;
using enginetest::Settings;

TEST(EngineSoak, EverySettingGivesNotesThatCanBeWrittenAndPlayed) {
    BasicRandom random;
    long notesChecked = 0;
    for (int key = 0; key < 15; ++key) {
        for (int f = -1; f <= 11; ++f) {
            for (int s = -1; s <= 3; ++s) {
                for (int t = -1; t <= 4; ++t) {
                    for (int a = -1; a <= 3; ++a) {
                        for (int flags = 0; flags < 4; ++flags) {
                            const Settings set{key, s, f, t, a, (flags & 1) != 0, (flags & 2) != 0};
                            Finger finger;
                            for (int bar = 0; bar < 3; ++bar) {
                                const createbar::Bar notes = makeBar(set, finger, random);
                                for (std::size_t p = 1; p <= 4; ++p) {
                                    const std::string& n = notes[p];
                                    const bool ok = notes::writtenNumber(n).has_value() &&
                                                    staveLookup(n).has_value() && n != "Eb0";
                                    if (!ok) {
                                        ADD_FAILURE()
                                            << '"' << n << "\" key " << key << " f" << f << " s"
                                            << s << " t" << t << " a" << a << " flags " << flags;
                                        return;
                                    }
                                    ++notesChecked;
                                }
                                if (set.alternate) {
                                    EXPECT_EQ(notes[1], finger.note);
                                    EXPECT_EQ(notes[3], finger.note);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(notesChecked, 15L * 13 * 5 * 6 * 5 * 4 * 3 * 4);
}

TEST(EngineSoak, AllOverTheNeckSpreadsOverTheWholeTable) {
    // Chromatic "All the Time": positions 1 to 39 (E0 to F#3), respelt or not; scale: rows 1
    // to 24 of the key, never "Eb0".
    BasicRandom random;
    Finger finger;
    std::set<int> pitches;
    const Settings chromatic{0, 0, 0, 0, 3, false, false};
    for (int bar = 0; bar < 3000; ++bar) {
        const createbar::Bar notes = makeBar(chromatic, finger, random);
        for (std::size_t p = 1; p <= 4; ++p) {
            pitches.insert(*notes::writtenNumber(notes[p]));
        }
    }
    // A whole-tone respelling can lower F#3 to Fb3, so nothing above F#3 and E0 the lowest.
    EXPECT_EQ(*pitches.begin(), 40);
    EXPECT_EQ(*pitches.rbegin(), 78);
    EXPECT_EQ(pitches.size(), 39u);

    std::set<std::string> names;
    const Settings scale{9, 0, 0, 0, -1, true, false}; // Bb
    for (int bar = 0; bar < 3000; ++bar) {
        const createbar::Bar notes = makeBar(scale, finger, random);
        for (std::size_t p = 1; p <= 4; ++p) {
            names.insert(notes[p]);
        }
    }
    // Rows 2 to 24 of Bb, and the one-in-eight finger note E0 of the open string.
    EXPECT_EQ(names.size(), 24u);
    EXPECT_EQ(names.count("Eb0"), 0u);
    EXPECT_EQ(names.count("E0"), 1u);
    EXPECT_EQ(names.count("G3"), 1u);
}

TEST(EngineSoak, NotOftenMakesAboutOneNoteInFiveChromatic) {
    // At the E string, 2nd fret in C the chromatic window is G0, G#0, A0, A#0 (A#0 sometimes
    // written Ab0); the scale window G0, A0 and the finger note F#0 never give those three.
    BasicRandom random;
    Finger finger;
    const Settings set{0, 0, 3, 0, 0, false, false};
    int chromaticOnly = 0;
    constexpr int kBars = 20000;
    for (int bar = 0; bar < kBars; ++bar) {
        const createbar::Bar notes = makeBar(set, finger, random);
        for (std::size_t p = 1; p <= 4; ++p) {
            const std::string& n = notes[p];
            chromaticOnly += (n == "G#0" || n == "A#0" || n == "Ab0") ? 1 : 0;
        }
    }
    // One note in five chromatic, half of those picks G#0 or A#0, seven in eight not replaced
    // by the finger note.
    const double share = static_cast<double>(chromaticOnly) / (4.0 * kBars);
    EXPECT_NEAR(share, 0.2 * 0.5 * 7.0 / 8.0, 0.006);
}

// A generator that puts the seed in place of its state, as a faulty re-seed would.
class ReplacingRandom : public RandomSource {
public:
    double next() override {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
    }
    void randomize(float seed) override { s = std::bit_cast<uint32_t>(seed); }

private:
    uint64_t s = 1;
};

// The shortest period p <= maxPeriod with which the second half of `bars` repeats, or 0.
std::size_t shortestPeriod(const std::vector<std::string>& bars, std::size_t maxPeriod) {
    const std::size_t half = bars.size() / 2;
    for (std::size_t p = 1; p <= maxPeriod && p <= half; ++p) {
        bool repeats = true;
        for (std::size_t i = half; i < bars.size() && repeats; ++i) {
            repeats = bars[i] == bars[i - p];
        }
        if (repeats) {
            return p;
        }
    }
    return 0;
}

std::vector<std::string> run(RandomSource& random, int count) {
    const Settings set{0, 0, 0, 0, 3, false, false}; // all over the neck, all the time
    Finger finger;
    std::vector<std::string> bars;
    for (int i = 0; i < count; ++i) {
        const createbar::Bar notes = makeBar(set, finger, random);
        bars.push_back(notes[1] + " " + notes[2] + " " + notes[3] + " " + notes[4]);
    }
    return bars;
}

TEST(RandomGenerator, LongRunsHaveNoCycle) {
    BasicRandom random;
    const std::vector<std::string> bars = run(random, 5000);
    EXPECT_EQ(shortestPeriod(bars, 2500), 0u);
    EXPECT_GT(std::set<std::string>(bars.begin(), bars.end()).size(), 4900u);

    // The check finds the cycle of a generator whose re-seed replaces its state.
    ReplacingRandom replacing;
    const std::vector<std::string> cycling = run(replacing, 5000);
    const std::size_t period = shortestPeriod(cycling, 2500);
    EXPECT_GT(period, 0u);
    EXPECT_LE(period, 100u);
}

TEST(RandomGenerator, StateNeverRepeatsAcrossReseeds) {
    BasicRandom random;
    std::set<uint64_t> states;
    for (int bar = 0; bar < 20000; ++bar) {
        const double r = random.next();
        random.randomize(static_cast<float>(std::floor(r * 100.0) + 1.0));
        EXPECT_TRUE(states.insert(random.state()).second) << "bar " << bar;
        for (int i = 0; i < 12; ++i) {
            random.next();
        }
    }
}

TEST(RandomGenerator, FixedStartAndSeedsMixedIn) {
    BasicRandom a;
    BasicRandom b;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(a.next(), b.next());
    }
    // The same seed after different histories leaves different states.
    BasicRandom fresh;
    a.randomize(7.0f);
    fresh.randomize(7.0f);
    EXPECT_NE(a.state(), fresh.state());
    EXPECT_NE(a.next(), fresh.next());
    // Different seeds from the same state differ, and so do seeds that differ in one bit.
    BasicRandom c;
    BasicRandom d;
    c.randomize(1.0f);
    d.randomize(std::nextafter(1.0f, 2.0f));
    EXPECT_NE(c.state(), d.state());
}

TEST(RandomGenerator, ValuesLieInTheUnitIntervalWithFullPrecision) {
    BasicRandom random;
    double sum = 0;
    double lowest = 1;
    double highest = 0;
    bool beyond32Bits = false;
    std::array<int, 10> tenths{};
    constexpr int kDraws = 200000;
    for (int i = 0; i < kDraws; ++i) {
        const double r = random.next();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
        sum += r;
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
        const double scaled = r * 4294967296.0;
        beyond32Bits = beyond32Bits || scaled != std::floor(scaled);
        ++tenths[static_cast<std::size_t>(r * 10)];
    }
    EXPECT_NEAR(sum / kDraws, 0.5, 0.005);
    EXPECT_LT(lowest, 0.001);
    EXPECT_GT(highest, 0.999);
    EXPECT_TRUE(beyond32Bits);
    for (int count : tenths) {
        EXPECT_NEAR(count, kDraws / 10, kDraws / 100);
    }
}

TEST(RandomGenerator, ScriptedValuesRepeatTheLastAndRecordSeeds) {
    ScriptedRandom random({0.25, 0.5});
    EXPECT_EQ(random.next(), 0.25);
    EXPECT_EQ(random.next(), 0.5);
    EXPECT_EQ(random.next(), 0.5);
    EXPECT_EQ(random.drawn, 3u);
    random.randomize(42.0f);
    ASSERT_EQ(random.seeds.size(), 1u);
    EXPECT_EQ(random.seeds[0], 42.0f);
    ScriptedRandom empty({});
    EXPECT_EQ(empty.next(), 0.0);
}

} // namespace
