// The beat judge against performances whose mistakes are known.  Bars of bass notes from a key's
// scale (sounding MIDI 28 to 68, four beats a bar) at tempi 60, 100 and 160, played with wrong
// notes, octave slips, missed beats, early and late notes and a normal timing spread (sigma
// 15 ms) on the others, rendered offline through the real FluidSynth with both Debian soundfonts,
// fingered and picked bass; clean, with the metronome's clicks and with white noise at 20 dB SNR.
// The audio goes through the note detector in 256-sample blocks as fast as it can be computed
// (the file input's path without its real-time pace), and the beats, the heard notes and the
// matcher's deadlines go to the beat matcher in the order the program meets them.  Prints the
// verdicts against the truth; asserts nothing.
//   bench_judge [--quick] [--bars N] [--seed N] [--latency auto|MS] [--grace MS]
//               [--soundfont NAME-PART] [--bass fingered|picked] [--mix clean|clicks|noise]
//               [--tempo BPM] [--verbose] [--no-announce] [--legato] [--program GM-NUMBER]
//               [--rate HZ] [--gain DB] [--fx]
// --rate renders and listens at another sample rate; --gain DB scales what the detector hears;
// --fx renders with FluidSynth's reverb and chorus.
// --corpus runs the corpus instead (bench/corpus_run.h: --seed, --beats, --minutes,
// --condition, --write-dir, --verbose, --peer basic-pitch).
// --program plays one other GM bass (numbered from 1: 33 acoustic, 36 fretless, 37 and 38 slap,
// 39 and 40 synth) in place of the fingered and picked ones.
#include "bench/corpus_run.h"
#include "bench/render_bass.h"
#include "listen/detector.h"
#include "listen/matcher.h"
#include "sound/midi_out.h"

#include <fluidsynth.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using listen::Verdict;

int rate = 48000;                  // the stream's (--rate)
double gainDb = 0.0;               // on everything the detector hears (--gain)
bool effects = false;              // reverb and chorus (--fx)
constexpr std::size_t block = 256; // an audio input buffer, as the file input delivers it
constexpr int64_t grid = bench::BassRenderer::block;
constexpr int lowest = 28, highest = 68;
constexpr double sigmaMs = 15.0;
constexpr double clickJitterMs = 3.0;

constexpr int kinds = 6; // in the order of listen::Verdict
const char* const kindNames[kinds] = {"right", "early", "late", "octave", "wrong", "missed"};
constexpr int none = kinds; // a beat the matcher never judged

int index(Verdict v) {
    return static_cast<int>(v);
}

int64_t nanosAt(int64_t sample) {
    return sample * 1'000'000'000LL / rate;
}

double msOf(int64_t samples) {
    return static_cast<double>(samples) * 1000.0 / rate;
}

double wallNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One beat of a performance: what the stave asks for and what the player does.
struct Planned {
    int64_t beat = 0; // the tick, in samples
    int expected = 0;
    Verdict truth = Verdict::Right;
    int played = 0;    // 0: nothing played
    int64_t onset = 0; // the note-on, on FluidSynth's 64-frame grid
    int velocity = 0;
};

struct Performance {
    double tempo = 0;
    int64_t period = 0; // samples
    std::vector<Planned> beats;
    int64_t end = 0; // samples
};

// Shares of the beats, in the order of listen::Verdict.
const std::array<double, kinds> mistakes = {64, 6, 6, 8, 8, 8};
const std::array<double, kinds> allRight = {1, 0, 0, 0, 0, 0};

int64_t onGrid(double sample) {
    return std::llround(sample / grid) * grid;
}

// Bars of random notes from a random major key's scale.  Early and late notes are 30 to 45 % of a
// beat off, so still nearest their own beat; the other notes spread normally around the beat
// (redrawn beyond four sigma, so that a right note stays well inside the window).  A late note
// is never followed by an early one (they would fall within the detector's shortest gap between
// onsets), and the first beat is never early (the matcher has no beat yet to hold the note for).
Performance compose(std::mt19937& random, double tempo, int beats,
                    const std::array<double, kinds>& shares) {
    Performance p;
    p.tempo = tempo;
    p.period = std::llround(60.0 / tempo * rate);
    const int64_t lead = rate / 2;
    const int root = std::uniform_int_distribution<int>(0, 11)(random);
    std::vector<int> scale;
    for (int m = lowest; m <= highest; ++m) {
        const int step = (m - root + 120) % 12;
        if (step == 0 || step == 2 || step == 4 || step == 5 || step == 7 || step == 9 ||
            step == 11) {
            scale.push_back(m);
        }
    }
    std::uniform_int_distribution<std::size_t> pick(0, scale.size() - 1);
    std::discrete_distribution<int> kind(shares.begin(), shares.end());
    std::normal_distribution<double> spread(0.0, sigmaMs * rate / 1000.0);
    std::uniform_real_distribution<double> off(0.30, 0.45);
    std::uniform_int_distribution<int> velocity(60, 110), semitones(1, 5), coin(0, 1);
    for (int i = 0; i < beats; ++i) {
        Planned b;
        b.beat = lead + p.period * i;
        b.expected = scale[pick(random)];
        Verdict truth;
        do {
            truth = static_cast<Verdict>(kind(random));
        } while (truth == Verdict::Early && (i == 0 || p.beats.back().truth == Verdict::Late));
        b.truth = truth;
        double offset = 0.0;
        do {
            offset = spread(random);
        } while (std::fabs(offset) > 4.0 * sigmaMs * rate / 1000.0);
        switch (truth) {
        case Verdict::Right:
            b.played = b.expected;
            break;
        case Verdict::Early:
        case Verdict::Late:
            b.played = b.expected;
            offset = off(random) * static_cast<double>(p.period) *
                     (truth == Verdict::Early ? -1.0 : 1.0);
            break;
        case Verdict::Octave: {
            const bool down =
                b.expected + 12 > highest || (b.expected - 12 >= lowest && coin(random));
            b.played = b.expected + (down ? -12 : 12);
            break;
        }
        case Verdict::Wrong:
            do {
                b.played = b.expected + semitones(random) * (coin(random) ? 1 : -1);
            } while (b.played < lowest || b.played > highest);
            break;
        case Verdict::Missed:
            break;
        }
        b.onset = onGrid(static_cast<double>(b.beat) + offset);
        b.velocity = velocity(random);
        p.beats.push_back(b);
    }
    p.end = lead + p.period * (beats + 1) + rate / 2;
    return p;
}

// The performance through FluidSynth: the bass, and the metronome's clicks on their own.
class Renderer {
public:
    bool load(std::string& error, const std::string& soundfont) {
        if (!engine_.loadFile(soundfont, error, rate)) {
            return false;
        }
        if (effects) {
            // Reverb and chorus at FluidSynth's defaults, as its own command-line player
            // renders (the program keeps both off).
            fluid_synth_reverb_on(engine_.synth(), -1, 1);
            fluid_synth_chorus_on(engine_.synth(), -1, 1);
        }
        return true;
    }
    std::string soundfont() const { return engine_.soundfontPath(); }
    // Each note let go as the next one sounds, instead of 20 ms before it.
    void setLegato(bool legato) { legato_ = legato; }

    // Each note sounds until 20 ms before the next one played (through any missed beat, at most
    // two beats); the last one for most of its beat.
    std::vector<float> bass(const Performance& p, int program) {
        std::vector<bench::BassRenderer::Event> events;
        events.push_back({0, bench::packMessage(0xC0, program, 0)});
        std::vector<const Planned*> played;
        for (const Planned& b : p.beats) {
            if (b.played != 0) {
                played.push_back(&b);
            }
        }
        for (std::size_t i = 0; i < played.size(); ++i) {
            const Planned& b = *played[i];
            int64_t off = b.onset + onGrid(0.9 * static_cast<double>(p.period));
            if (i + 1 < played.size()) {
                off = std::min(played[i + 1]->onset - (legato_ ? 0 : onGrid(0.02 * rate)),
                               b.onset + 2 * p.period);
            }
            events.push_back({b.onset, bench::packMessage(0x90, b.played, b.velocity)});
            events.push_back({off, bench::packMessage(0x80, b.played, 0)});
        }
        return play(events, p.end);
    }

    // Drum key 36 on beat 1 of each bar, 37 on the others, channel 10.
    std::vector<float> clicks(const Performance& p) {
        std::vector<bench::BassRenderer::Event> events;
        for (std::size_t i = 0; i < p.beats.size(); ++i) {
            events.push_back({onGrid(static_cast<double>(p.beats[i].beat)),
                              bench::packMessage(0x99, i % 4 == 0 ? 36 : 37, 100)});
        }
        return play(events, p.end);
    }

private:
    std::vector<float> play(std::vector<bench::BassRenderer::Event> events, int64_t frames) {
        std::stable_sort(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.at < b.at; });
        engine_.silence();
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        int64_t done = 0;
        std::size_t next = 0;
        while (done < frames) {
            while (next < events.size() && events[next].at <= done) {
                engine_.send(events[next++].message);
            }
            const int n = static_cast<int>(std::min<int64_t>(grid, frames - done));
            engine_.render(left.data() + done, right.data() + done, n);
            done += n;
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
            left[i] = 0.5f * (left[i] + right[i]);
        }
        engine_.silence();
        std::vector<float> scratchL(4096), scratchR(4096);
        engine_.render(scratchL.data(), scratchR.data(), 4096);
        return left;
    }

    platform::FluidEngine engine_;
    bool legato_ = false;
};

double peak(const std::vector<float>& x) {
    double p = 0;
    for (float s : x) {
        p = std::max(p, static_cast<double>(std::fabs(s)));
    }
    return p;
}

// The bass with the clicks' peak 10 dB under its own, or with white noise 20 dB under its level
// while it plays.
std::vector<float> mixed(const std::vector<float>& bass, const std::vector<float>& clicks,
                         const Performance& p, bench::Mix mix, unsigned seed) {
    std::vector<float> out = bass;
    if (mix == bench::Mix::Clicks) {
        const double scale =
            peak(bass) / std::max(peak(clicks), 1e-9) * std::pow(10.0, -10.0 / 20.0);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] += static_cast<float>(clicks[i] * scale);
        }
    } else if (mix == bench::Mix::Noise) {
        const auto from = static_cast<std::size_t>(p.beats.front().beat);
        const auto to =
            std::min(out.size(), static_cast<std::size_t>(p.beats.back().beat + p.period));
        double sum = 0;
        for (std::size_t i = from; i < to; ++i) {
            sum += static_cast<double>(bass[i]) * bass[i];
        }
        const double level =
            std::sqrt(sum / static_cast<double>(std::max<std::size_t>(1, to - from)));
        std::mt19937 random(seed);
        std::normal_distribution<double> gauss(0.0, level * std::pow(10.0, -20.0 / 20.0));
        for (float& s : out) {
            s += static_cast<float>(gauss(random));
        }
    }
    if (gainDb != 0.0) {
        // Clipped at full scale, as a sound card's converter clips an input set too hot.
        const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
        for (float& s : out) {
            s = std::clamp(s * gain, -1.0f, 1.0f);
        }
    }
    return out;
}

struct Judged {
    std::vector<int> verdict; // per beat: a listen::Verdict, or `none`
    std::vector<listen::Judgement> judgement;
    std::vector<listen::DetectedNote> heard;
    long doubles = 0; // beats judged twice
};

// The take through the detector and the matcher.  Time is the stream's: sample n at n / rate.
// Beats reach the matcher at their ticks, notes at the end of the block that returned them, and
// advance() runs at each of the matcher's deadlines, as the window's timer calls it, or `grace`
// later (to see what closing a beat later would change).
// With `announce`, every tick also tells the detector of the program's own click, as the window
// does with the metronome on: at the beat plus the latency, a few milliseconds off either way,
// told the scheduling look-ahead before its beat.
Judged judge(const Performance& p, const std::vector<float>& audio, int64_t latencyNanos,
             int64_t graceNanos, bool announce, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-clickJitterMs, clickJitterMs);
    listen::NoteDetector detector(listen::DetectorParams::forRate(rate));
    listen::BeatMatcher matcher;
    matcher.setLatencyNanos(latencyNanos);
    Judged out;
    out.verdict.assign(p.beats.size(), none);
    out.judgement.resize(p.beats.size());
    const auto periodNanos = static_cast<int64_t>(std::llround(60e9 / p.tempo));
    auto keep = [&](const std::vector<listen::Judgement>& judged) {
        for (const listen::Judgement& j : judged) {
            const auto at = static_cast<std::size_t>(j.beatId);
            if (out.verdict[at] != none) {
                ++out.doubles;
            }
            out.verdict[at] = index(j.verdict);
            out.judgement[at] = j;
        }
    };
    std::size_t nextBeat = 0;
    std::size_t nextClick = 0;
    // The window's tick runs the look-ahead before its beat and tells the detector then.
    auto announceUntil = [&](int64_t now) {
        for (; announce && nextClick < p.beats.size() &&
               nanosAt(p.beats[nextClick].beat) <= now + MIDI_OUT::kScheduleAheadNanos;
             ++nextClick) {
            detector.ownClick(
                p.beats[nextClick].beat +
                    std::llround((static_cast<double>(latencyNanos) / 1e6 + jitter(random)) * rate /
                                 1000.0),
                nextClick % 4 == 0, p.beats[nextClick].expected);
        }
    };
    auto until = [&](int64_t now) {
        for (;;) {
            const int64_t beatAt = nextBeat < p.beats.size() ? nanosAt(p.beats[nextBeat].beat)
                                                             : std::numeric_limits<int64_t>::max();
            const int64_t deadline = matcher.nextDeadlineNanos() != 0
                                         ? matcher.nextDeadlineNanos() + graceNanos
                                         : std::numeric_limits<int64_t>::max();
            if (std::min(beatAt, deadline) > now) {
                return;
            }
            if (beatAt <= deadline) {
                const Planned& b = p.beats[nextBeat];
                keep(matcher.addBeat(
                    {static_cast<int64_t>(nextBeat), beatAt, periodNanos, b.expected}));
                ++nextBeat;
            } else {
                keep(matcher.advance(deadline - graceNanos));
            }
        }
    };
    // The file input ends with half a second of silence.
    std::vector<float> stream = audio;
    stream.resize(stream.size() + rate / 2, 0.0f);
    for (std::size_t at = 0; at < stream.size(); at += block) {
        const std::size_t n = std::min(block, stream.size() - at);
        announceUntil(nanosAt(static_cast<int64_t>(at)));
        const std::vector<listen::DetectedNote> notes = detector.feed(stream.data() + at, n);
        until(nanosAt(static_cast<int64_t>(at + n)));
        for (const listen::DetectedNote& note : notes) {
            out.heard.push_back(note);
            keep(matcher.addNote(nanosAt(note.onsetSample), note.midi));
        }
    }
    until(nanosAt(static_cast<int64_t>(stream.size())) + 10'000'000'000LL);
    return out;
}

struct Table {
    std::array<std::array<long, kinds + 1>, kinds> n{};
    long beats() const {
        long s = 0;
        for (const auto& row : n) {
            for (long c : row) {
                s += c;
            }
        }
        return s;
    }
    long agree() const {
        long s = 0;
        for (int k = 0; k < kinds; ++k) {
            s += n[static_cast<std::size_t>(k)][static_cast<std::size_t>(k)];
        }
        return s;
    }
    long rightJudgedWrong() const {
        return n[static_cast<std::size_t>(index(Verdict::Right))]
                [static_cast<std::size_t>(index(Verdict::Wrong))];
    }
    double share() const {
        return beats() ? 100.0 * static_cast<double>(agree()) / static_cast<double>(beats()) : NAN;
    }
    void add(const Table& t) {
        for (std::size_t r = 0; r < n.size(); ++r) {
            for (std::size_t c = 0; c < n[r].size(); ++c) {
                n[r][c] += t.n[r][c];
            }
        }
    }
};

void printTable(const char* title, const Table& t) {
    std::printf("\n%s: %ld beats, %.2f %% agree, %ld right notes judged wrong\n", title, t.beats(),
                t.share(), t.rightJudgedWrong());
    std::printf("  %-16s", "truth \\ verdict");
    for (const char* name : kindNames) {
        std::printf("%8s", name);
    }
    bool unjudged = false;
    for (const auto& row : t.n) {
        unjudged = unjudged || row[none] != 0;
    }
    if (unjudged) {
        std::printf("%8s", "none");
    }
    std::printf("\n");
    for (int r = 0; r < kinds; ++r) {
        std::printf("  %-16s", kindNames[r]);
        for (int c = 0; c < kinds + (unjudged ? 1 : 0); ++c) {
            std::printf("%8ld", t.n[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
        }
        std::printf("\n");
    }
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

// What "Calibrate Latency…" would keep: eight notes played along with the clicks at tempo 100
// (right, with the usual spread), the median of the heard onsets less their beats.  Too few
// notes heard keep 0.
bool calibrate(Renderer& renderer, int program, bench::Mix mix, unsigned seed, double& latencyMs) {
    std::mt19937 random(seed);
    const Performance p = compose(random, 100.0, 8, allRight);
    const std::vector<float> clicks = renderer.clicks(p);
    const std::vector<float> audio = mixed(renderer.bass(p, program), clicks, p, mix, seed);
    listen::NoteDetector detector(listen::DetectorParams::forRate(rate));
    std::vector<listen::DetectedNote> heard;
    for (std::size_t at = 0; at < audio.size(); at += block) {
        const auto notes = detector.feed(audio.data() + at, std::min(block, audio.size() - at));
        heard.insert(heard.end(), notes.begin(), notes.end());
    }
    std::vector<double> offsets;
    for (const Planned& b : p.beats) {
        for (const listen::DetectedNote& n : heard) {
            if (std::llabs(n.onsetSample - b.beat) * 2 < p.period) {
                offsets.push_back(msOf(n.onsetSample - b.beat));
                break;
            }
        }
    }
    latencyMs = offsets.size() >= 5 ? median(offsets) : 0.0;
    return offsets.size() >= 5;
}

// The GM bass programs by name, numbered from 0 as in the program change.
std::string bassName(int program) {
    static const char* const names[] = {"acoustic", "fingered", "picked", "fretless",
                                        "slap1",    "slap2",    "synth1", "synth2"};
    return program >= 32 && program < 40 ? names[program - 32]
                                         : "program" + std::to_string(program);
}

std::string shortName(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--corpus") {
            return bench::corpus::runJudge(argc, argv);
        }
    }
    bool legato = false, quick = false, verbose = false, autoLatency = true, announce = true;
    int bars = 0, onlyTempo = 0, otherProgram = -1;
    unsigned seed = 13;
    double fixedLatencyMs = 0.0, graceMs = 0.0;
    std::string onlyFont, onlyMix, onlyBass;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--legato") {
            legato = true;
        } else if (arg == "--no-announce") {
            announce = false;
        } else if (arg == "--bars" && more) {
            bars = std::atoi(argv[++i]);
        } else if (arg == "--seed" && more) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--tempo" && more) {
            onlyTempo = std::atoi(argv[++i]);
        } else if (arg == "--soundfont" && more) {
            onlyFont = argv[++i];
        } else if (arg == "--mix" && more) {
            onlyMix = argv[++i];
        } else if (arg == "--bass" && more) {
            onlyBass = argv[++i];
        } else if (arg == "--rate" && more) {
            rate = std::atoi(argv[++i]);
        } else if (arg == "--fx") {
            effects = true;
        } else if (arg == "--gain" && more) {
            gainDb = std::atof(argv[++i]);
        } else if (arg == "--program" && more) {
            otherProgram = std::atoi(argv[++i]) - 1;
        } else if (arg == "--grace" && more) {
            graceMs = std::atof(argv[++i]);
        } else if (arg == "--latency" && more) {
            const std::string value = argv[++i];
            autoLatency = value == "auto";
            fixedLatencyMs = autoLatency ? 0.0 : std::atof(value.c_str());
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    if (bars <= 0) {
        bars = quick ? 8 : 48;
    }
    std::printf("Command:");
    for (int i = 0; i < argc; ++i) {
        std::printf(" %s", argv[i]);
    }
    std::printf("\n");
    platform::FluidEngine::silenceLog();

    std::vector<std::string> soundfonts;
    for (const char* sf :
         {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"}) {
        if (std::filesystem::exists(sf) && std::string(sf).find(onlyFont) != std::string::npos) {
            soundfonts.push_back(sf);
        }
    }
    if (soundfonts.empty()) {
        std::printf("No soundfont installed: nothing to measure.\n");
        return 0;
    }
    std::vector<double> tempi = {60, 100, 160};
    if (onlyTempo > 0) {
        tempi = {static_cast<double>(onlyTempo)};
    }
    std::vector<int> programs = {33, 34};
    if (otherProgram >= 0 && otherProgram < 128) {
        programs = {otherProgram};
    }
    const bench::Mix mixes[] = {bench::Mix::Clean, bench::Mix::Clicks, bench::Mix::Noise};
    std::printf("Beat judge: %d bars of 4 beats x %zu tempi x %zu basses x %zu soundfonts, each "
                "clean, with clicks and in noise; seed %u; latency %s; beats closed %.0f ms after "
                "the matcher's deadline; clicks %s%s\n",
                bars, tempi.size(), programs.size(), soundfonts.size(), seed,
                autoLatency ? "calibrated (median onset offset of 8 notes at tempo 100)"
                            : (std::to_string(fixedLatencyMs) + " ms").c_str(),
                graceMs,
                announce ? "announced to the detector (beat + latency, +-3 ms)" : "not announced",
                legato ? "; legato (each note let go as the next sounds)" : "");
    std::printf("\n%-12s %-9s %5s  %-14s %6s %8s %12s %12s %20s\n", "soundfont", "bass", "tempo",
                "material", "beats", "agree %", "right>wrong", "latency ms", "onset error med/p95");

    Table byMix[3], all;
    std::vector<double> onsetErrors;
    double audioSec = 0;
    const double started = wallNow();
    Renderer renderer;
    renderer.setLegato(legato);
    unsigned take = 0;
    for (const std::string& sf : soundfonts) {
        std::string error;
        if (!renderer.load(error, sf) || renderer.soundfont() != sf) {
            std::printf("%s: %s\n", sf.c_str(), error.c_str());
            continue;
        }
        for (int program : programs) {
            if (!onlyBass.empty() && onlyBass != bassName(program)) {
                continue;
            }
            std::array<double, 3> latencyMs{};
            for (std::size_t m = 0; m < 3; ++m) {
                latencyMs[m] = fixedLatencyMs;
                if (autoLatency &&
                    !calibrate(renderer, program, mixes[m],
                               seed * 7919u + static_cast<unsigned>(program + m), latencyMs[m])) {
                    std::printf("  calibration heard fewer than 5 notes: latency 0\n");
                }
            }
            for (double tempo : tempi) {
                // The take's number as in the full run, so that a filtered run plays the
                // same performances.
                const bool tim = sf.find("TimGM6mb") != std::string::npos;
                const auto tempoIndex = static_cast<unsigned>(tempo == 60    ? 0
                                                              : tempo == 100 ? 1
                                                                             : 2);
                take = (tim ? 6u : 0u) + (program == 33 ? 0u : 3u) + tempoIndex + 1u;
                std::mt19937 random(seed * 1000u + take);
                const Performance p = compose(random, tempo, bars * 4, mistakes);
                const std::vector<float> bass = renderer.bass(p, program);
                const std::vector<float> clicks = renderer.clicks(p);
                for (std::size_t m = 0; m < 3; ++m) {
                    const bench::Mix mix = mixes[m];
                    if (!onlyMix.empty() &&
                        std::string(bench::mixName(mix)).rfind(onlyMix, 0) == std::string::npos) {
                        continue;
                    }
                    const std::vector<float> audio = mixed(bass, clicks, p, mix, seed + take);
                    audioSec += static_cast<double>(audio.size()) / rate;
                    const Judged j =
                        judge(p, audio, std::llround(latencyMs[m] * 1e6),
                              std::llround(graceMs * 1e6), announce, seed * 31u + take);
                    Table t;
                    std::vector<double> errors;
                    for (std::size_t b = 0; b < p.beats.size(); ++b) {
                        const Planned& planned = p.beats[b];
                        const int v = j.verdict[b];
                        ++t.n[static_cast<std::size_t>(index(planned.truth))]
                             [static_cast<std::size_t>(v)];
                        if (v != none && planned.played != 0 &&
                            j.judgement[b].playedMidi == planned.played) {
                            // The heard onset less the played one, after the latency.
                            errors.push_back(std::fabs(j.judgement[b].offsetMs -
                                                       msOf(planned.onset - planned.beat)));
                        }
                        if (verbose && v != index(planned.truth)) {
                            std::printf("    %s %s %3.0f %-13s beat %3zu: %s, expected %d, played "
                                        "%d at %+.0f ms, judged %s",
                                        shortName(sf).c_str(), bassName(program).c_str(), tempo,
                                        bench::mixName(mix), b, kindNames[index(planned.truth)],
                                        planned.expected, planned.played,
                                        msOf(planned.onset - planned.beat),
                                        v == none ? "none" : kindNames[v]);
                            if (v != none && j.judgement[b].playedMidi != 0) {
                                std::printf(" (heard %d at %+.0f ms)", j.judgement[b].playedMidi,
                                            j.judgement[b].offsetMs);
                            }
                            for (std::size_t k = b; k-- > 0;) {
                                if (p.beats[k].played != 0) {
                                    std::printf("; after %d", p.beats[k].played);
                                    break;
                                }
                            }
                            std::printf("; heard near it:");
                            for (const listen::DetectedNote& n : j.heard) {
                                const int64_t d = n.onsetSample - planned.beat;
                                if (std::llabs(d) * 2 <= p.period) {
                                    std::printf(" %d@%+.0f", n.midi, msOf(d));
                                }
                            }
                            std::printf("\n");
                        }
                    }
                    if (j.doubles != 0) {
                        std::printf("  %ld beats judged twice\n", j.doubles);
                    }
                    onsetErrors.insert(onsetErrors.end(), errors.begin(), errors.end());
                    std::printf("%-12s %-9s %5.0f  %-14s %6ld %8.1f %12ld %12.1f %11.1f / %5.1f\n",
                                shortName(sf).c_str(), bassName(program).c_str(), tempo,
                                bench::mixName(mix), t.beats(), t.share(), t.rightJudgedWrong(),
                                latencyMs[m], median(errors), percentile(errors, 0.95));
                    std::fflush(stdout);
                    byMix[m].add(t);
                    all.add(t);
                }
            }
        }
    }
    for (std::size_t m = 0; m < 3; ++m) {
        printTable(bench::mixName(mixes[m]), byMix[m]);
    }
    printTable("all", all);
    std::printf("\nOnset error (|heard - played| offset, after the latency) median %.1f ms, p95 "
                "%.1f ms; %.0f s of audio judged in %.0f s\n",
                median(onsetErrors), percentile(onsetErrors, 0.95), audioSec, wallNow() - started);
    return 0;
}
