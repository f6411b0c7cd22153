// Bass notes rendered offline through the real FluidSynth synthesiser, for the note detector's
// tests and benchmark: single ringing notes and notes repeated at a tempo, mono, with optional
// white noise or metronome clicks mixed in.  Header only.
#pragma once

#include "platform/fluid_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bench {

enum class Mix { Clean, Noise, Clicks };

inline const char* mixName(Mix mix) {
    switch (mix) {
    case Mix::Clean:
        return "clean";
    case Mix::Noise:
        return "noise 20 dB";
    case Mix::Clicks:
        return "clicks -10 dB";
    }
    return "?";
}

struct TakeSpec {
    int program = 33; // program change value: 33 fingered bass, 34 picked bass
    int midi = 40;
    int velocity = 100;
    int count = 1;         // notes played
    double tempo = 200.0;  // beats a minute between repeated notes (and clicks)
    double ringSec = 1.5;  // how long a single note is held
    double leadSec = 0.25; // silence (or noise) before the first note
    double tailSec = 0.4;  // after the last note-off
    Mix mix = Mix::Clean;
    unsigned seed = 1;
};

struct Take {
    std::vector<float> samples;  // mono
    std::vector<int64_t> onsets; // note-on positions, in samples
    // Where each note's attack rises: the first sample after the note-on whose 64-sample RMS
    // reaches a tenth of the loudest in the note's first 100 ms, with the note rendered alone.
    // A soundfont's sample can take tens of milliseconds of near silence to speak; what the
    // player hears begins here.
    std::vector<int64_t> attacks;
    // Where the metronome's clicks sound (heard only with Mix::Clicks; the program announces
    // them to the detector whenever its metronome plays).
    std::vector<int64_t> clicks;
    int midi = 0;
    double rate = 0;
};

inline uint32_t packMessage(int status, int data1, int data2) {
    return static_cast<uint32_t>(status) + static_cast<uint32_t>(data1) * 256u +
           static_cast<uint32_t>(data2) * 65536u;
}

// FluidSynth applies a message at the start of the next 64-frame block, so every event falls on
// a multiple of 64 frames and the note-on positions are exact.
class BassRenderer {
public:
    static constexpr int block = 64;
    struct Event {
        int64_t at;
        uint32_t message;
    };

    // Loads exactly the soundfont at path ("" takes the first of the synthesiser's candidates).
    bool load(std::string& error, double rate, const std::string& path = {}) {
        rate_ = rate;
        return path.empty() ? engine_.load(error, rate) : engine_.loadFile(path, error, rate);
    }
    std::string soundfont() const { return engine_.soundfontPath(); }

    // The events (at multiples of block) rendered from silence: mono, frames long.
    std::vector<float> play(const std::vector<Event>& events, int64_t frames) {
        // Let every voice and the reverb's tail die away: each take starts from silence.
        engine_.silence();
        std::vector<float> scratchL(4096), scratchR(4096);
        for (int i = 0; i < 100; ++i) {
            engine_.render(scratchL.data(), scratchR.data(), 4096);
            if (std::max(peak(scratchL), peak(scratchR)) < 1e-6) {
                break;
            }
        }
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        std::vector<float> mono(left.size());
        int64_t done = 0;
        std::size_t next = 0;
        while (done < frames) {
            while (next < events.size() && events[next].at <= done) {
                engine_.send(events[next++].message);
            }
            const int n = static_cast<int>(std::min<int64_t>(block, frames - done));
            engine_.render(left.data() + done, right.data() + done, n);
            done += n;
        }
        for (std::size_t i = 0; i < mono.size(); ++i) {
            mono[i] = 0.5f * (left[i] + right[i]);
        }
        return mono;
    }

    Take render(const TakeSpec& spec) {
        Take take;
        take.midi = spec.midi;
        take.rate = rate_;
        const int64_t beat = aligned(60.0 / spec.tempo);
        const int64_t lead = aligned(spec.leadSec);
        const int64_t hold = spec.count == 1 ? aligned(spec.ringSec) : beat - aligned(0.02);
        const int64_t end = lead + beat * (spec.count - 1) + hold + aligned(spec.tailSec);

        std::vector<Event> bass, clicks;
        bass.push_back({0, packMessage(0xC0, spec.program, 0)});
        for (int i = 0; i < spec.count; ++i) {
            const int64_t on = lead + beat * i;
            take.onsets.push_back(on);
            bass.push_back({on, packMessage(0x90, spec.midi, spec.velocity)});
            bass.push_back({on + hold, packMessage(0x80, spec.midi, 0)});
        }
        // A click on every beat while the bass sounds, the first of each bar accented.
        for (int64_t at = lead, n = 0; at < lead + beat * (spec.count - 1) + hold;
             at += beat, ++n) {
            clicks.push_back({at, packMessage(0x99, n % 4 == 0 ? 36 : 37, 100)});
        }
        for (const Event& e : clicks) {
            take.clicks.push_back(e.at);
        }
        take.samples = play(bass, end);
        const int64_t delay = attackDelay(spec);
        for (int64_t on : take.onsets) {
            take.attacks.push_back(on + delay);
        }
        if (spec.mix == Mix::Clicks) {
            const std::vector<float> click = play(clicks, end);
            // The clicks' peak 10 dB below the bass's peak.
            const double scale =
                peak(take.samples) / std::max(peak(click), 1e-9) * std::pow(10.0, -10.0 / 20.0);
            for (std::size_t i = 0; i < take.samples.size(); ++i) {
                take.samples[i] += static_cast<float>(click[i] * scale);
            }
        } else if (spec.mix == Mix::Noise) {
            // White noise 20 dB below the bass's level while it sounds, over the whole take.
            const auto from = static_cast<std::size_t>(lead);
            const auto to = static_cast<std::size_t>(lead + beat * (spec.count - 1) + hold);
            double sum = 0;
            for (std::size_t i = from; i < to; ++i) {
                sum += static_cast<double>(take.samples[i]) * take.samples[i];
            }
            const double signal =
                std::sqrt(sum / static_cast<double>(std::max<std::size_t>(1, to - from)));
            const double noise = signal * std::pow(10.0, -20.0 / 20.0);
            std::mt19937 random(spec.seed);
            std::normal_distribution<double> gauss(0.0, noise);
            for (float& s : take.samples) {
                s += static_cast<float>(gauss(random));
            }
        }
        return take;
    }

private:
    int64_t aligned(double seconds) const {
        return static_cast<int64_t>(std::lround(seconds * rate_ / block)) * block;
    }

    // How far after its note-on a note's attack rises (see Take::attacks), rendered alone.
    int64_t attackDelay(const TakeSpec& spec) {
        const int64_t length = aligned(0.1);
        const std::vector<float> x = play({{0, packMessage(0xC0, spec.program, 0)},
                                           {0, packMessage(0x90, spec.midi, spec.velocity)}},
                                          length);
        std::vector<double> sums(x.size() + 1, 0.0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            sums[i + 1] = sums[i] + static_cast<double>(x[i]) * x[i];
        }
        auto rms = [&](int64_t at) {
            const int64_t from = std::clamp<int64_t>(at - 32, 0, length);
            const int64_t to = std::clamp<int64_t>(at + 32, 0, length);
            return std::sqrt(
                (sums[static_cast<std::size_t>(to)] - sums[static_cast<std::size_t>(from)]) /
                static_cast<double>(to - from));
        };
        double loudest = 0.0;
        for (int64_t at = 0; at < length; ++at) {
            loudest = std::max(loudest, rms(at));
        }
        for (int64_t at = 0; at < length; ++at) {
            if (rms(at) >= 0.1 * loudest) {
                return at;
            }
        }
        return 0;
    }

    static double peak(const std::vector<float>& x) {
        double p = 0;
        for (float s : x) {
            p = std::max(p, static_cast<double>(std::fabs(s)));
        }
        return p;
    }

    platform::FluidEngine engine_;
    double rate_ = 48000;
};

// A 16-bit mono WAV file, for the command-line baseline.
inline bool writeWav(const std::string& path, const std::vector<float>& samples, int rate) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate) * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (float s : samples) {
        const auto v = static_cast<int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
        out.write(reinterpret_cast<const char*>(&v), 2);
    }
    return static_cast<bool>(out);
}

} // namespace bench
