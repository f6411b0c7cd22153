// Frame candidates: the normalised difference and the harmonic shares that settle the octave.
#include "listen/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;

double hz(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

struct Partial {
    double ratio; // of the fundamental (need not be whole: an undertone, a stiff string)
    double amplitude;
};

std::vector<float> tone(double midi, const std::vector<Partial>& partials, int count,
                        double noiseRms = 0.0, unsigned seed = 1) {
    std::vector<float> x(static_cast<std::size_t>(count));
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, noiseRms > 0.0 ? noiseRms : 1.0);
    const double f0 = hz(midi);
    for (int i = 0; i < count; ++i) {
        double v = 0.0;
        for (std::size_t k = 0; k < partials.size(); ++k) {
            v += partials[k].amplitude *
                 std::sin(2.0 * M_PI * f0 * partials[k].ratio * i / kRate + 0.7 * k);
        }
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(0.2 * v + (noiseRms > 0.0 ? noise(gen) : 0.0));
    }
    return x;
}

std::vector<Partial> sawLike(int count, int from = 1) {
    std::vector<Partial> p;
    for (int h = from; h <= count; ++h) {
        p.push_back({static_cast<double>(h), 1.0 / h});
    }
    return p;
}

TEST(FrameAnalyser, NormalisedDifferenceIsTheDirectSum) {
    listen::FrameAnalyser analyser(kRate);
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(analyser.window()));
    for (float& v : x) {
        v = u(gen);
    }
    analyser.analyse(x.data());
    const int w = analyser.window();
    for (const int lag : {1, 37, 500, w / 2}) {
        double r = 0.0;
        double m = 0.0;
        for (int j = 0; j + lag < w; ++j) {
            r += static_cast<double>(x[static_cast<std::size_t>(j)]) *
                 x[static_cast<std::size_t>(j + lag)];
            m += static_cast<double>(x[static_cast<std::size_t>(j)]) *
                     x[static_cast<std::size_t>(j)] +
                 static_cast<double>(x[static_cast<std::size_t>(j + lag)]) *
                     x[static_cast<std::size_t>(j + lag)];
        }
        EXPECT_NEAR(analyser.nsdfAt(lag), 2.0 * r / m, 1e-4) << "lag " << lag;
    }
}

struct ToneCase {
    std::string name;
    double midi;
    std::vector<Partial> partials;
    double noiseRms;
    double heardMidi; // what a bassist names it
};

TEST(FrameAnalyser, TheClearestOwnCandidateIsTheNoteHeard) {
    const std::vector<ToneCase> cases = {
        {"low E, eight harmonics", 28, sawLike(8), 0.0, 28},
        {"G#4, the top fret", 68, sawLike(6), 0.0, 68},
        {"A1 without its fundamental (a microphone's high-pass)", 33, sawLike(8, 2), 0.0, 33},
        {"E1 without fundamental or second", 28, sawLike(10, 3), 0.0, 28},
        {"C2 whose second harmonic rules", 36, {{1, 0.15}, {2, 1.0}, {3, 0.3}, {4, 0.4}}, 0.0, 36},
        {"G2 with odd harmonics at a quarter",
         43,
         {{1, 0.25}, {2, 1.0}, {3, 0.25}, {4, 0.5}, {5, 0.1}, {6, 0.3}},
         0.0,
         43},
        {"D2 with an undertone at a tenth",
         38,
         {{0.5, 0.1}, {1, 1.0}, {2, 0.5}, {3, 0.3}},
         0.0,
         38},
        {"A2 tuned 30 cents sharp", 45.3, sawLike(8), 0.0, 45.3},
        {"B1 tuned 30 cents flat", 34.7, sawLike(8), 0.0, 34.7},
        {"a stiff E1 string",
         28,
         {{1, 1}, {2.0008, 0.5}, {3.0027, 0.33}, {4.0064, 0.25}, {5.0125, 0.2}},
         0.0,
         28},
        {"F1 in noise 20 dB down", 29, sawLike(8), 0.02, 29},
        {"the fifth harmonic strongest (a pickup near the bridge)",
         40,
         {{1, 0.2}, {2, 0.3}, {3, 0.3}, {4, 0.4}, {5, 1.0}, {6, 0.3}},
         0.0,
         40},
    };
    for (const ToneCase& c : cases) {
        SCOPED_TRACE(c.name);
        listen::FrameAnalyser analyser(kRate);
        const auto x = tone(c.midi, c.partials, analyser.window(), c.noiseRms);
        const listen::FrameEvidence e = analyser.analyse(x.data());
        const listen::PitchCandidate* best = e.bestCandidate();
        ASSERT_NE(best, nullptr);
        // Within a tenth of a semitone: the note named, whatever the partials (the tuner's own
        // accuracy is measured on clean tones).
        EXPECT_NEAR(best->midi, c.heardMidi, 0.1);
        EXPECT_GT(best->clarity, 0.8);
        // Every other own candidate is less clear, and no candidate a whole octave below is own.
        for (const listen::PitchCandidate& other : e.candidates) {
            if (std::abs(other.midi - (c.heardMidi - 12.0)) < 0.3 ||
                std::abs(other.midi - (c.heardMidi - 19.02)) < 0.3) {
                EXPECT_LT(other.own, listen::kOwnShare) << "at " << other.midi;
            }
        }
    }
}

TEST(FrameAnalyser, NothingPeriodicIsNoNote) {
    listen::FrameAnalyser analyser(kRate);
    const int w = analyser.window();
    const std::vector<float> silence(static_cast<std::size_t>(w), 0.0f);
    const listen::FrameEvidence quiet = analyser.analyse(silence.data());
    EXPECT_EQ(quiet.power, 0.0);
    EXPECT_TRUE(quiet.candidates.empty());

    std::mt19937 gen(9);
    std::normal_distribution<float> n(0.0f, 0.1f);
    std::vector<float> noise(static_cast<std::size_t>(w));
    for (float& v : noise) {
        v = n(gen);
    }
    const listen::FrameEvidence e = analyser.analyse(noise.data());
    EXPECT_NEAR(e.power, 0.01, 0.002);
    for (const listen::PitchCandidate& c : e.candidates) {
        EXPECT_LT(c.clarity, 0.3) << c.midi;
    }
}

TEST(FrameAnalyser, TheWindowHoldsTwoPeriodsOfTheLowestCandidateAtAnyRate) {
    for (const int rate : {44100, 48000, 96000}) {
        listen::FrameAnalyser analyser(rate);
        const double lowestPeriod = rate / hz(27.0);
        EXPECT_GE(analyser.window(), 2.0 * lowestPeriod) << rate;
        EXPECT_LT(analyser.window(), 2.0 * lowestPeriod + 4) << rate;
    }
}

} // namespace

namespace {

// The tuner's accuracy: a clean tone of known pitch, anywhere in the range and off concert
// pitch either way, within 2 cents.
TEST(FrameAnalyser, ATonesPitchIsWithinTwoCentsAcrossTheRange) {
    for (const int rate : {44100, 48000, 96000}) {
        listen::FrameAnalyser analyser(rate);
        for (int midi = 28; midi <= 68; midi += 5) {
            for (const double cents : {-30.0, 0.0, 17.0}) {
                const double pitch = midi + cents / 100.0;
                const double f0 = 440.0 * std::pow(2.0, (pitch - 69.0) / 12.0);
                std::vector<float> x(static_cast<std::size_t>(analyser.window()));
                for (std::size_t i = 0; i < x.size(); ++i) {
                    double v = 0.0;
                    for (int k = 1; k <= 6; ++k) {
                        v += std::sin(2.0 * M_PI * f0 * k * static_cast<double>(i) / rate + k) / k;
                    }
                    x[i] = static_cast<float>(0.2 * v);
                }
                const listen::FrameEvidence e = analyser.analyse(x.data());
                ASSERT_NE(e.bestCandidate(), nullptr) << rate << " " << pitch;
                EXPECT_NEAR(100.0 * (e.bestCandidate()->midi - pitch), 0.0, 2.0)
                    << rate << " Hz, MIDI " << pitch;
            }
        }
    }
}

} // namespace
