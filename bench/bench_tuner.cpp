// The tuner's cents against the soundfonts' own tuning: each bass preset's notes rendered alone,
// their pitch measured by the frame analyser over the held part (0.3 to 1.0 s after the
// note-on) and by a long spectral estimate that is independent of it (the fundamental's
// frequency from the cross-spectrum phase of two frames a period apart), so that a note heard
// off pitch shows whether the sample or the estimate is off.
//
//   bench_tuner [--soundfont NAME-PART]
#include "bench/render_bass.h"
#include "listen/frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;

double median(std::vector<double> v) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The mean frequency over a stretch from zero crossings of the signal low-passed to keep its
// fundamental: an estimate that shares nothing with the normalised difference.
double crossingsHz(const std::vector<float>& x, std::size_t from, std::size_t to, double f0) {
    // Two one-pole low-passes at 1.5 x the fundamental leave the fundamental ruling.
    const double a = std::exp(-2.0 * M_PI * 1.5 * f0 / kRate);
    double y1 = 0.0;
    double y2 = 0.0;
    double last = 0.0;
    double first = -1.0;
    double latest = -1.0;
    int crossings = 0;
    for (std::size_t i = 0; i < to && i < x.size(); ++i) {
        y1 = (1.0 - a) * x[i] + a * y1;
        y2 = (1.0 - a) * y1 + a * y2;
        if (i > from && last < 0.0 && y2 >= 0.0) {
            const double at = static_cast<double>(i) - y2 / (y2 - last);
            if (first < 0.0) {
                first = at;
            } else {
                ++crossings;
            }
            latest = at;
        }
        last = y2;
    }
    return crossings > 0 ? crossings * kRate / (latest - first) : NAN;
}

} // namespace

int main(int argc, char** argv) {
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--soundfont" && i + 1 < argc) {
            only = argv[++i];
        }
    }
    std::printf("soundfont     program  midi   analyser cents  crossings cents\n");
    for (const std::string sf :
         {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"}) {
        const std::string name = std::filesystem::path(sf).stem().string();
        if (name.find(only) == std::string::npos) {
            continue;
        }
        bench::BassRenderer renderer;
        std::string error;
        if (!renderer.load(error, kRate, sf)) {
            std::printf("%s: %s\n", sf.c_str(), error.c_str());
            continue;
        }
        std::vector<double> all;
        for (const int program : {33, 34}) {
            for (int midi = 28; midi <= 68; midi += 4) {
                bench::TakeSpec spec;
                spec.program = program;
                spec.midi = midi;
                spec.ringSec = 1.2;
                const bench::Take take = renderer.render(spec);
                listen::FrameAnalyser analyser(kRate);
                const auto w = static_cast<std::size_t>(analyser.window());
                const auto on = static_cast<std::size_t>(take.onsets.empty() ? 0 : take.onsets[0]);
                std::vector<double> cents;
                for (std::size_t at = on + kRate * 3 / 10; at + w < on + kRate; at += 480) {
                    const listen::FrameEvidence e = analyser.analyse(take.samples.data() + at);
                    if (e.bestCandidate()) {
                        cents.push_back(100.0 * (e.bestCandidate()->midi - midi));
                    }
                }
                const double f0 = 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
                const double hz = crossingsHz(take.samples, on + kRate * 3 / 10, on + kRate, f0);
                const double crossing = 1200.0 * std::log2(hz / f0);
                const double c = median(cents);
                all.push_back(c);
                // The low-passes keep the fundamental only where it is strong enough: an
                // answer a harmonic away is no estimate.
                if (std::isfinite(crossing) && std::fabs(crossing) < 50.0) {
                    std::printf("%-12s  %7d  %4d  %15.1f  %15.1f\n", name.c_str(), program, midi, c,
                                crossing);
                } else {
                    std::printf("%-12s  %7d  %4d  %15.1f  %15s\n", name.c_str(), program, midi, c,
                                "n/a");
                }
            }
        }
        std::printf("%-12s  median |cents| by the analyser %.1f\n", name.c_str(), [&] {
            std::vector<double> a;
            for (const double v : all) {
                a.push_back(std::fabs(v));
            }
            return median(a);
        }());
    }
    return 0;
}
