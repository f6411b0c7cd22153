// Steady tones: hum found while listening and taken out, notes left alone.
#include "listen/steady.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;

struct SteadyCase {
    std::string name;
    double mainsHz; // 0: no hum
    double noteHz;  // 0: no note; else plucked every half second
    double seconds;
    std::vector<double> lines; // the lines expected among those found
    bool noteKept;             // the note's fundamental passes (within 1 dB)
};

TEST(SteadyTones, HumIsFoundToAFractionOfAHertzAndTakenOutNotesAreNot) {
    const std::vector<SteadyCase> cases = {
        {"50 Hz mains with harmonics", 50.0, 0.0, 5.0, {50.0, 100.0, 150.0}, false},
        {"60 Hz mains drifted to 60.2", 60.2, 0.0, 5.0, {60.2, 120.4}, false},
        {"an A1 plucked every half second, no hum", 0.0, 55.0, 6.0, {}, true},
        {"hum under a plucked E2", 50.0, 82.41, 6.0, {50.0}, true},
    };
    for (const SteadyCase& c : cases) {
        SCOPED_TRACE(c.name);
        listen::SteadyTones steady(kRate);
        const auto n = static_cast<std::size_t>(c.seconds * kRate);
        double humIn = 0.0;
        double humOut = 0.0;
        double noteIn = 0.0;
        double noteOut = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / kRate;
            double hum = 0.0;
            if (c.mainsHz > 0.0) {
                for (int k = 1; k <= 3; ++k) {
                    hum += 0.01 / k * std::sin(2.0 * M_PI * c.mainsHz * k * t + k);
                }
            }
            double note = 0.0;
            if (c.noteHz > 0.0) {
                const double since = std::fmod(t, 0.5);
                note = 0.2 * std::exp(-since / 0.2) * std::sin(2.0 * M_PI * c.noteHz * t);
            }
            const float y = steady.filter(static_cast<float>(hum + note));
            // The last second: hum's power through and the note's (measured apart by running
            // the other alone would need two trackers; the note dominates when both play).
            if (t > c.seconds - 1.0) {
                if (c.noteHz > 0.0) {
                    noteIn += note * note;
                    noteOut += static_cast<double>(y) * y;
                } else {
                    humIn += hum * hum;
                    humOut += static_cast<double>(y) * y;
                }
            }
        }
        const std::vector<double> found = steady.lines();
        for (const double want : c.lines) {
            bool near = false;
            for (const double f : found) {
                near = near || std::abs(f - want) < 0.1;
            }
            EXPECT_TRUE(near) << "no line within 0.1 Hz of " << want;
        }
        for (const double f : found) {
            if (c.noteHz > 0.0) {
                EXPECT_GT(std::abs(f - c.noteHz), 1.0) << "the note taken for a line";
            }
        }
        if (c.noteHz > 0.0 && c.noteKept) {
            EXPECT_NEAR(10.0 * std::log10(noteOut / noteIn), 0.0, 1.0);
        } else if (c.mainsHz > 0.0) {
            EXPECT_LT(10.0 * std::log10(humOut / humIn), -30.0) << "the hum not taken out";
        }
    }
}

} // namespace
