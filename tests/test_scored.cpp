// The scored note model on synthesised takes: what real input does to a detector that special
// cases did not foresee (hum with the bass silent, a DC offset, a note let ring under the next,
// a slide into the note, a bass tuned off concert pitch).
#include "listen/detector.h"

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

// A plucked string: twelve partials falling as 1/k, the higher ones dying sooner, a 2 ms attack
// and a 60 ms release.  `from` > 0 slides from that pitch to `midi` over the first 60 ms.
struct Pluck {
    double at;       // seconds
    double length;   // seconds until released
    double midi;     // may be fractional (a bass tuned off concert pitch)
    double from = 0; // a slide's first pitch
    double gain = 0.3;
    double vibratoCents = 0.0; // at 5 Hz
};

void addPluck(std::vector<float>& x, const Pluck& p) {
    const auto start = static_cast<std::size_t>(p.at * kRate);
    const double release = 0.06;
    const auto count = static_cast<std::size_t>((p.length + release) * kRate);
    double phase[12] = {};
    for (std::size_t i = 0; i < count && start + i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double midi = p.midi;
        if (p.from > 0.0 && t < 0.06) {
            midi = p.from + (p.midi - p.from) * t / 0.06;
        }
        const double f0 = hz(midi + p.vibratoCents / 100.0 * std::sin(2.0 * M_PI * 5.0 * t));
        double env = std::min(1.0, t / 0.002) * std::exp(-t / 1.5);
        if (t > p.length) {
            env *= std::exp(-(t - p.length) / 0.012);
        }
        double v = 0.0;
        for (int k = 1; k <= 12; ++k) {
            phase[k - 1] += 2.0 * M_PI * f0 * k / kRate;
            v += std::sin(phase[k - 1]) / k * std::exp(-t * 0.8 * k);
        }
        x[start + i] += static_cast<float>(p.gain * env * v);
    }
}

struct Take {
    std::string name;
    double seconds;
    std::vector<Pluck> plucks;
    double humDb = -200.0; // mains hum at 50 Hz with its harmonics, dBFS of the fundamental
    double dc = 0.0;
    std::vector<int> heard; // what a bassist names, in order
    // The program's own clicks bleeding in, announced to the detector: every half second from
    // the start until this many seconds, each fourth the accent's bass drum.
    double clicksUntil = 0.0;
    int expected = 0; // the note each click's beat asks for, announced with it (0: none)
};

constexpr double kClickEvery = 0.5;

void addClick(std::vector<float>& x, double at, bool accent, std::mt19937& gen) {
    std::normal_distribution<double> noise(0.0, 1.0);
    const auto start = static_cast<std::size_t>(at * kRate);
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.15 * kRate) && start + i < x.size();
         ++i) {
        const double t = static_cast<double>(i) / kRate;
        // A stick's crack, and under the accent a drum's thump at 55 Hz falling to 50.
        double v = 0.2 * noise(gen) * std::exp(-t / 0.004);
        if (accent) {
            v += 0.3 * std::min(1.0, t / 0.001) * std::exp(-t / 0.05) *
                 std::sin(2.0 * M_PI * (55.0 * t - 25.0 * t * t));
        }
        x[start + i] += static_cast<float>(v);
    }
}

std::vector<float> render(const Take& take) {
    std::vector<float> x(static_cast<std::size_t>(take.seconds * kRate), 0.0f);
    for (const Pluck& p : take.plucks) {
        addPluck(x, p);
    }
    const double hum = std::pow(10.0, take.humDb / 20.0);
    std::mt19937 gen(3);
    for (int k = 0; k * kClickEvery < take.clicksUntil; ++k) {
        addClick(x, k * kClickEvery, k % 4 == 0, gen);
    }
    std::normal_distribution<double> noise(0.0, 1e-4);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double h = 0.0;
        for (int k = 1; k <= 5; ++k) {
            h += std::sin(2.0 * M_PI * 50.0 * k * t + k) / k;
        }
        x[i] += static_cast<float>(hum * h + take.dc + noise(gen));
    }
    return x;
}

TEST(ScoredModel, RealInputBecomesTheNotesABassistHears) {
    const std::vector<Take> takes = {
        {"mains hum at -40 dBFS with the bass silent", 12.0, {}, -40.0, 0.0, {}},
        {"hum at -40 dBFS under three notes",
         12.0,
         {{4.0, 0.5, 33}, {5.0, 0.5, 40}, {6.0, 0.5, 28}},
         -40.0,
         0.0,
         {33, 40, 28}},
        {"a fourth let ring 100 ms into the next",
         3.0,
         {{0.5, 0.6, 40}, {1.0, 0.6, 45}},
         -200.0,
         0.0,
         {40, 45}},
        {"a harmonic of a ringing note plucked over it (E4 over E1)",
         3.0,
         {{0.5, 0.8, 28}, {1.0, 0.6, 64, 0, 0.15}},
         -200.0,
         0.0,
         {28, 64}},
        {"a slide from two frets below", 2.0, {{0.5, 0.8, 43, 41}}, -200.0, 0.0, {43}},
        {"vibrato of 20 cents at 5 Hz", 3.0, {{0.5, 1.5, 38, 0, 0.3, 20.0}}, -200.0, 0.0, {38}},
        {"a DC offset of 0.1", 3.0, {{0.5, 0.5, 36}, {1.5, 0.5, 43}}, -200.0, 0.1, {36, 43}},
        {"a note let ring 300 ms under a lower one",
         3.0,
         {{0.5, 0.8, 45}, {1.0, 0.6, 38}},
         -200.0,
         0.0,
         {45, 38}},
        {"a slide from a fret below", 2.0, {{0.5, 0.8, 31, 30}}, -200.0, 0.0, {31}},
        {"a bass tuned 30 cents flat",
         3.0,
         {{0.5, 0.5, 39.7}, {1.5, 0.5, 51.7}},
         -200.0,
         0.0,
         {40, 52}},
        {"the metronome bleeding in: a bar heard alone, then over a held note and between notes",
         6.0,
         {{2.0, 1.8, 33}, {4.0, 0.4, 40}},
         -200.0,
         0.0,
         {33, 40},
         6.0},
        {"drums over a ringing note and over silence, the beats asking for another note",
         5.0,
         {{0.25, 2.5, 40}},
         -200.0,
         0.0,
         {40},
         5.0,
         45},
        {"drums over a ringing note at the drum's own pitch, the beats asking for another",
         5.0,
         {{0.25, 2.5, 33, 0, 0.15}},
         -200.0,
         0.0,
         {33},
         5.0,
         38},
        {"drums over a ringing note whose fifth harmonic is near the drum's, asking for another",
         5.0,
         {{0.25, 2.5, 64, 0, 0.15}},
         -200.0,
         0.0,
         {64},
         5.0,
         38},
        {"a wrong note plucked on the drum, the beats asking for another",
         4.0,
         {{0.25, 0.6, 40}, {2.0, 1.0, 38}},
         -200.0,
         0.0,
         {40, 38},
         4.0,
         45},
        {"a note over a quieter lower one let go as it begins (B2 over A1)",
         3.0,
         {{0.5, 0.5, 33, 0, 0.15}, {1.0, 0.6, 47}},
         -200.0,
         0.0,
         {33, 47}},
        {"a note over a quieter lower one still ringing (B2 over A1)",
         3.0,
         {{0.5, 1.2, 33, 0, 0.15}, {1.0, 0.6, 47}},
         -200.0,
         0.0,
         {33, 47}},
        {"two notes let ring together, the lower let go before the next (quieter upper notes)",
         3.0,
         {{0.5, 0.63, 33},
          {0.85, 0.35, 47, 0, 0.2},
          {1.2, 0.36, 53, 0, 0.2},
          {1.56, 0.4, 65, 0, 0.2}},
         -200.0,
         0.0,
         {33, 47, 53, 65}},
        {"a note let ring under two more, let go while the third rings",
         3.0,
         {{0.5, 0.9, 33}, {0.85, 0.35, 47}, {1.2, 0.36, 53}},
         -200.0,
         0.0,
         {33, 47, 53}},
        {"the same note plucked again softer as it is let go",
         3.0,
         {{0.5, 0.5, 40}, {1.0, 0.5, 40, 0, 0.15}, {1.5, 0.5, 52}, {2.0, 0.5, 52, 0, 0.1}},
         -200.0,
         0.0,
         {40, 40, 52, 52}},
        {"the same note plucked at tempo 200",
         2.5,
         {{0.5, 0.28, 33}, {0.8, 0.28, 33}, {1.1, 0.28, 33}, {1.4, 0.28, 33}},
         -200.0,
         0.0,
         {33, 33, 33, 33}},
    };
    for (const Take& take : takes) {
        SCOPED_TRACE(take.name);
        listen::NoteDetector detector;
        const std::vector<float> x = render(take);
        for (int k = 0; k * kClickEvery < take.clicksUntil; ++k) {
            detector.ownClick(std::llround(k * kClickEvery * kRate), k % 4 == 0, take.expected);
        }
        std::vector<int> heard;
        std::vector<double> onsets;
        for (std::size_t i = 0; i < x.size(); i += 256) {
            for (const auto& n :
                 detector.feed(x.data() + i, std::min<std::size_t>(256, x.size() - i))) {
                heard.push_back(n.midi);
                onsets.push_back(static_cast<double>(n.onsetSample) / kRate);
            }
        }
        EXPECT_EQ(heard, take.heard);
        // Each note on its pluck (a slide's on the slide's start).
        for (std::size_t i = 0; i < onsets.size() && i < take.plucks.size(); ++i) {
            if (heard.size() == take.plucks.size()) {
                EXPECT_NEAR(onsets[i], take.plucks[i].at, 0.015) << "note " << i;
            }
        }
    }
}

} // namespace
