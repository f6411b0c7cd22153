// The program's own clicks as the input hears them: learnt from clicks heard alone, expected
// where the next ones are announced, never learnt from a note plucked on a click.
#include "listen/own_clicks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kBlock = 128;
constexpr int kSlack = 4;
constexpr int kBeatBlocks = 24;
constexpr int kAccentBlocks = 60;
constexpr int kDecideBlocks = 90;
constexpr int kPeriod = 150; // blocks between clicks

// A click's own energy, from its onset block.
double clickEnergy(int i) {
    return i < 0 ? 0.0 : 1e-3 * std::exp(-i / 3.0);
}

struct ClickCase {
    std::string name;
    double under;    // what rings under the clicks at the first: its energy
    double decay;    // per block, of what rings under
    bool plucked;    // a note plucked on every click (it goes on sounding)
    int heardOffset; // blocks from where a click is announced to where it is heard
    bool accent;     // the clicks are the bar's first
    bool learnt;     // expected: the clicks become known
};

TEST(OwnClicks, ClicksHeardAloneAreExpectedWhereTheyAreAnnouncedPlucksOnThemAreNot) {
    const std::vector<ClickCase> cases = {
        {"clicks over silence", 1e-7, 1.0, false, 0, false, true},
        {"clicks over a note dying away", 4e-4, 0.997, false, 0, false, true},
        {"accents heard two blocks after where they are announced", 1e-7, 1.0, false, 2, true,
         true},
        {"a note plucked on every click", 1e-7, 1.0, true, 0, false, false},
    };
    for (const ClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        listen::OwnClicks clicks(kBlock, kSlack, kBeatBlocks, kAccentBlocks, kDecideBlocks);
        double under = c.under;
        double note = 0.0;
        int64_t block = 0;
        std::vector<double> expected;
        std::vector<double> actual;
        for (int k = 0; k < 6; ++k) {
            const int64_t announcedBlock = 40 + static_cast<int64_t>(k) * kPeriod;
            clicks.announce(announcedBlock * kBlock + kBlock / 2, c.accent);
            for (; block < announcedBlock + kPeriod - 40; ++block) {
                const int i = static_cast<int>(block - announcedBlock - c.heardOffset);
                if (c.plucked && i == 0) {
                    note = 2e-3; // as loud as the note before it was when plucked
                }
                if (c.plucked && i == 30) {
                    clicks.noteAt((block - 30) * kBlock); // the note named 80 ms on
                }
                const double click = clickEnergy(i);
                const double e = under + note + click;
                // The last click's blocks: what is expected of it against what it adds.
                if (k == 5 && i >= -1 && i < 12) {
                    expected.push_back(clicks.expected(block * kBlock));
                    actual.push_back(click);
                }
                clicks.push(block * kBlock, e);
                under *= c.decay;
                note *= 0.999;
            }
        }
        EXPECT_EQ(clicks.learnt(c.accent), c.learnt);
        EXPECT_FALSE(clicks.learnt(!c.accent));
        double sumExpected = 0.0;
        double sumActual = 0.0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            sumExpected += expected[i];
            sumActual += actual[i];
            if (!c.learnt) {
                EXPECT_EQ(expected[i], 0.0) << "block " << i;
            }
        }
        if (c.learnt) {
            // The click's energy, on its blocks (a tenth of it either way for what rings
            // under it).
            EXPECT_NEAR(sumExpected, sumActual, 0.1 * sumActual);
            EXPECT_NEAR(expected[1], actual[1], 0.15 * actual[1]) << "at its onset";
            EXPECT_LT(expected[0], 0.2 * actual[1]) << "before its onset";
        }
    }
}

} // namespace
