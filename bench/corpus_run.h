// The corpus runs of bench_judge and bench_detect (--corpus): every condition (a source through a
// chain) rendered, judged or detected, and printed as one row; then the conditions without a
// note (hum, noise, DC, silence) and the notes the detector finds in them.  Header only.
//   bench_judge --corpus [--seed N] [--beats N] [--minutes M] [--condition NAME-PART]
//               [--write-dir DIR] [--verbose] [--ring-ms MS] [--ghosts SHARE] [--quiet-only]
// --ring-ms: the longest a note rings into the next (300; negative: each note stops that long
// before the next); --ghosts: the share of beats followed by a ghost note (0.12); --quiet-only:
// only the conditions without a note, --minutes long each.
//   bench_detect --corpus (the same options)
#pragma once

#include "bench/corpus.h"
#include "bench/render_bass.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bench::corpus {

struct Condition {
    std::string name;
    Source source;
    Chain chain;
};

inline std::vector<Source> sources() {
    static const char* const basses[] = {"acoustic", "fingered", "picked", "fretless",
                                         "slap1",    "slap2",    "synth1", "synth2"};
    std::vector<Source> out;
    for (const auto& [short_, path] :
         {std::pair<const char*, const char*>{"FluidR3", "/usr/share/sounds/sf2/FluidR3_GM.sf2"},
          std::pair<const char*, const char*>{"TimGM6mb", "/usr/share/sounds/sf2/TimGM6mb.sf2"}}) {
        for (int program = 32; program < 40; ++program) {
            out.push_back({std::string(short_) + " " + basses[program - 32], path, program,
                           strings::Attack::Finger});
        }
    }
    out.push_back({"string finger", "", 0, strings::Attack::Finger});
    out.push_back({"string pick", "", 0, strings::Attack::Pick});
    out.push_back({"string plain", "", 0, strings::Attack::Finger, false});
    return out;
}

inline std::vector<Chain> chains() {
    return {
        {"mic", {Stage::Mic}},
        {"hum50", {Stage::Hum50}},
        {"hum60", {Stage::Hum60}},
        {"white", {Stage::White}},
        {"pink", {Stage::Pink}},
        {"dc", {Stage::Dc}},
        {"low30", {Stage::Low}},
        {"clip", {Stage::Clip}},
        {"44k1", {Stage::Rate441}},
        {"96k", {Stage::Rate96}},
        {"clicks", {Stage::Clicks}},
        {"room+hum+pink+clicks", {Stage::Mic, Stage::Hum50, Stage::Pink, Stage::Clicks}},
    };
}

// Every source clean; the string model's two attacks, FluidR3's fingered and TimGM6mb's picked
// bass through every chain.
inline std::vector<Condition> conditions() {
    std::vector<Condition> out;
    const std::vector<Source> all = sources();
    for (const Source& s : all) {
        out.push_back({s.name + " clean", s, {"clean", {}}});
    }
    for (const Chain& c : chains()) {
        for (const Source& s : all) {
            if (s.name == "string finger" || s.name == "string pick" ||
                s.name == "FluidR3 fingered" || s.name == "TimGM6mb picked") {
                out.push_back({s.name + " " + c.name, s, c});
            }
        }
    }
    return out;
}

// Audio that holds no note: hum, noise, DC offset or silence, for `seconds`.
struct Quiet {
    std::string name;
    std::vector<Stage> stages;
};

inline std::vector<Quiet> quiets() {
    return {{"hum 50 Hz -40 dBFS", {Stage::Hum50}},
            {"hum 60 Hz -40 dBFS", {Stage::Hum60}},
            {"white+pink noise -50 dBFS", {Stage::White, Stage::Pink}},
            {"DC 0.05", {Stage::Dc}},
            {"silence", {}},
            {"mic room noise", {Stage::Pink, Stage::Mic}}};
}

inline uint32_t fnv(const std::string& s) {
    uint32_t h = 2166136261u;
    for (char c : s) {
        h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    return h;
}

inline std::string fileName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '.') ? c : '-';
    }
    return out;
}

inline double percentileOf(std::vector<double> v, double q) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

struct Options {
    unsigned seed = 7;
    int beats = 64;
    double minutes = 1.0;
    std::string only;
    std::string writeDir;
    bool verbose = false;
    double ringMs = 300;
    double ghostShare = 0.12;
    bool takes = true; // false: the quiet conditions only (--quiet-only)
};

// Parses the corpus options; false (with a message) on one it does not know.
inline bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--corpus") {
        } else if (arg == "--seed" && more) {
            o.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--beats" && more) {
            o.beats = std::max(4, std::atoi(argv[++i]));
        } else if (arg == "--minutes" && more) {
            o.minutes = std::atof(argv[++i]);
        } else if (arg == "--condition" && more) {
            o.only = argv[++i];
        } else if (arg == "--write-dir" && more) {
            o.writeDir = argv[++i];
        } else if (arg == "--ring-ms" && more) {
            o.ringMs = std::atof(argv[++i]);
        } else if (arg == "--ghosts" && more) {
            o.ghostShare = std::atof(argv[++i]);
        } else if (arg == "--quiet-only") {
            o.takes = false;
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

// The soundfonts, each loaded once, on first use.
class Fonts {
public:
    FontPlayer* get(const std::string& path) {
        if (path.empty()) {
            return nullptr;
        }
        auto& slot = players_[path];
        if (!slot) {
            slot = std::make_unique<FontPlayer>();
            std::string error;
            if (!std::filesystem::exists(path) || !slot->load(path, error)) {
                std::printf("  %s: not loaded (%s)\n", path.c_str(), error.c_str());
                slot.reset();
                failed_.push_back(path);
            }
        }
        return slot.get();
    }
    bool failed(const std::string& path) const {
        return std::find(failed_.begin(), failed_.end(), path) != failed_.end();
    }

private:
    std::map<std::string, std::unique_ptr<FontPlayer>> players_;
    std::vector<std::string> failed_;
};

// A condition's audio: the performance through its source and chain.
struct Rendered {
    std::vector<float> audio;
    int rate = renderRate;
};

// The instrument (the string model's tuning, pluck and pickup, the ghost notes' noise) is drawn
// from the source's name, the chain's noise from the condition's.
inline Rendered renderCondition(const Condition& c, const Performance& p, Fonts& fonts,
                                unsigned base) {
    FontPlayer* font = fonts.get(c.source.soundfont);
    std::vector<float> clicks;
    if (c.chain.has(Stage::Clicks)) {
        // The program's own synthesiser plays the clicks: the take's soundfont, else FluidR3.
        FontPlayer* clickFont = font ? font : fonts.get("/usr/share/sounds/sf2/FluidR3_GM.sf2");
        clicks = clickFont ? clickFont->clicks(p) : std::vector<float>(p.end, 0.0f);
    }
    Rendered r;
    r.audio = apply(c.chain, renderBass(p, c.source, font, base + fnv(c.source.name)), clicks,
                    base + fnv(c.name));
    r.rate = c.chain.rate();
    return r;
}

// What "Calibrate Latency..." would keep for the condition: eight right notes at tempo 100,
// the median of the heard onsets less their beats (0 when fewer than five are heard).
inline int64_t calibrate(const Condition& c, Fonts& fonts, unsigned base) {
    std::mt19937 random(base + fnv(c.name));
    std::uniform_int_distribution<int> pitch(33, 52);
    std::normal_distribution<double> spread(0.0, 5.0);
    Performance p;
    const int64_t period = renderRate * 6 / 10;
    for (int i = 0; i < 8; ++i) {
        Beat b;
        b.at = renderRate + period * i;
        b.period = period;
        b.expected = b.played = pitch(random);
        Note n;
        n.onset = onGrid(static_cast<double>(b.at) +
                         std::clamp(spread(random), -15.0, 15.0) * renderRate / 1000.0);
        n.off = n.onset + period - msSamples(20);
        n.midi = b.played;
        n.velocity = 90;
        b.note = i;
        p.notes.push_back(n);
        p.beats.push_back(b);
    }
    p.end = renderRate + period * 9;
    const Rendered r = renderCondition(c, p, fonts, base + 1);
    const Judged j = judge(p, r.audio, r.rate, 0, c.chain.has(Stage::Clicks));
    std::vector<double> offsets;
    for (const Beat& b : p.beats) {
        for (const listen::DetectedNote& n : j.heard) {
            const int64_t d = nanosOf(n.onsetSample, r.rate) - nanosOf(b.at, renderRate);
            if (std::llabs(d) * 2 < nanosOf(period, renderRate)) {
                offsets.push_back(static_cast<double>(d));
                break;
            }
        }
    }
    if (offsets.size() < 5) {
        return 0;
    }
    std::sort(offsets.begin(), offsets.end());
    return std::llround(
        offsets.size() % 2 ? offsets[offsets.size() / 2]
                           : 0.5 * (offsets[offsets.size() / 2 - 1] + offsets[offsets.size() / 2]));
}

inline void writeCsv(const std::string& path, const Performance& p) {
    std::ofstream out(path);
    out << "beat,time_s,expected_midi,truth\n";
    for (std::size_t i = 0; i < p.beats.size(); ++i) {
        const Beat& b = p.beats[i];
        char line[96];
        std::snprintf(line, sizeof line, "%zu,%.6f,%d,%s\n", i,
                      static_cast<double>(b.at) / renderRate, b.expected, verdictName(b.truth));
        out << line;
    }
}

struct Tally {
    long beats = 0, agree = 0, rightBeats = 0, rightLost = 0, wrongBeats = 0, wrongPassed = 0;
    std::vector<double> latencyMs;
    double cpuSec = 0, audioSec = 0;
    void add(const Tally& t) {
        beats += t.beats;
        agree += t.agree;
        rightBeats += t.rightBeats;
        rightLost += t.rightLost;
        wrongBeats += t.wrongBeats;
        wrongPassed += t.wrongPassed;
        latencyMs.insert(latencyMs.end(), t.latencyMs.begin(), t.latencyMs.end());
        cpuSec += t.cpuSec;
        audioSec += t.audioSec;
    }
};

inline double share(long n, long of) {
    return of ? 100.0 * static_cast<double>(n) / static_cast<double>(of) : NAN;
}

inline void printRow(const std::string& name, const Tally& t, double latencyMs) {
    std::printf("%-38s %6ld %8.2f %10.2f %10.2f %9.0f %8.1f %7.2f\n", name.c_str(), t.beats,
                share(t.agree, t.beats), share(t.rightLost, t.rightBeats),
                share(t.wrongPassed, t.wrongBeats), percentileOf(t.latencyMs, 0.95), latencyMs,
                t.audioSec > 0 ? 100.0 * t.cpuSec / t.audioSec : NAN);
}

inline const char* modelName() {
    return listen::DetectorParams::defaultModel() == "scored" ? "scored" : "rules";
}

inline bool selected(const Options& o, const std::string& name) {
    return o.only.empty() || name.find(o.only) != std::string::npos;
}

// The notes detected in each quiet condition.
inline void runQuiets(const Options& o) {
    const auto seconds = o.minutes * 60.0;
    std::printf("\n%-38s %8s %8s %7s\n", "no note played", "seconds", "notes", "CPU %");
    long total = 0, ran = 0;
    for (const Quiet& q : quiets()) {
        if (!selected(o, q.name)) {
            continue;
        }
        ++ran;
        Chain chain{q.name, q.stages};
        std::vector<float> audio(static_cast<std::size_t>(seconds * renderRate), 0.0f);
        audio = apply(chain, std::move(audio), {}, o.seed + fnv(q.name));
        double cpu = 0;
        const std::vector<listen::DetectedNote> notes = notesIn(audio, renderRate, cpu);
        total += static_cast<long>(notes.size());
        std::printf("%-38s %8.0f %8zu %7.2f\n", q.name.c_str(), seconds, notes.size(),
                    100.0 * cpu / seconds);
        if (o.verbose) {
            for (const listen::DetectedNote& n : notes) {
                std::printf("    %d at %.3f s\n", n.midi,
                            static_cast<double>(n.onsetSample) / renderRate);
            }
        }
        std::fflush(stdout);
        if (!o.writeDir.empty()) {
            bench::writeWav(o.writeDir + "/" + fileName(q.name) + ".wav", audio, renderRate);
        }
    }
    if (ran == 0) {
        std::printf("(none selected)\n");
    } else {
        std::printf("%-38s %8.0f %8ld\n", "all", seconds * static_cast<double>(ran), total);
    }
}

inline void header(const char* what, const Options& o) {
    std::printf("Corpus %s: detector model %s (CLEFWORK_DETECTOR=%s); seed %u; %d beats a "
                "condition; notes ring up to %.0f ms into the next; ghost notes after %.0f %% of "
                "the beats; quiet conditions %.1f min each\n",
                what, modelName(),
                std::getenv("CLEFWORK_DETECTOR") ? std::getenv("CLEFWORK_DETECTOR") : "(unset)",
                o.seed, o.beats, o.ringMs, 100.0 * o.ghostShare, o.minutes);
}

inline double wallSec() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// bench_judge --corpus.
inline int runJudge(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        return 2;
    }
    platform::FluidEngine::silenceLog();
    header("beat judge", o);
    if (!o.writeDir.empty()) {
        std::filesystem::create_directories(o.writeDir);
    }
    const double started = wallSec();
    if (o.takes) {
        std::printf("\n%-38s %6s %8s %10s %10s %9s %8s %7s\n", "condition", "beats", "truth %",
                    "right>bad%", "wrong>ok%", "p95 ms", "lat ms", "CPU %");
    }
    Fonts fonts;
    Tally all;
    for (const Condition& c : conditions()) {
        if (!o.takes || !selected(o, c.name) || fonts.failed(c.source.soundfont)) {
            continue;
        }
        // The same performance for a source through every chain.
        const unsigned base = o.seed * 7919u;
        std::mt19937 random(base + fnv(c.source.name));
        const Performance p =
            compose(random, {o.beats, c.source.soundfont.empty() && c.source.articulate, o.ringMs,
                             o.ghostShare});
        if (!c.source.soundfont.empty() && fonts.get(c.source.soundfont) == nullptr) {
            continue;
        }
        const int64_t latency = calibrate(c, fonts, base + 1);
        const Rendered r = renderCondition(c, p, fonts, base);
        const Judged j = judge(p, r.audio, r.rate, latency, c.chain.has(Stage::Clicks));
        Tally t;
        t.cpuSec = j.detectCpuSec;
        t.audioSec = j.audioSec;
        for (std::size_t i = 0; i < p.beats.size(); ++i) {
            const Beat& b = p.beats[i];
            const int v = j.verdict[i];
            ++t.beats;
            t.agree += v == static_cast<int>(b.truth);
            if (b.truth == Verdict::Right) {
                ++t.rightBeats;
                t.rightLost += v < 0 || v == static_cast<int>(Verdict::Wrong) ||
                               v == static_cast<int>(Verdict::Octave) ||
                               v == static_cast<int>(Verdict::Missed);
                if (v >= 0 && j.judgement[i].playedMidi != 0 && b.note >= 0) {
                    const int64_t attack =
                        nanosOf(p.notes[static_cast<std::size_t>(b.note)].onset, renderRate);
                    t.latencyMs.push_back(static_cast<double>(j.judgedAtNanos[i] - attack) / 1e6);
                }
            }
            if (b.truth == Verdict::Wrong || b.truth == Verdict::Octave) {
                ++t.wrongBeats;
                t.wrongPassed += v == static_cast<int>(Verdict::Right);
            }
            if (o.verbose && v != static_cast<int>(b.truth)) {
                const double onsetMs =
                    b.note >= 0 ? static_cast<double>(
                                      p.notes[static_cast<std::size_t>(b.note)].onset - b.at) *
                                      1000.0 / renderRate
                                : 0.0;
                std::printf("    beat %3zu at %.3f s: truth %s, expected %d, played %d at %+.0f "
                            "ms, judged %s",
                            i, static_cast<double>(b.at) / renderRate, verdictName(b.truth),
                            b.expected, b.played, onsetMs,
                            v < 0 ? "never" : verdictName(static_cast<Verdict>(v)));
                if (v >= 0 && j.judgement[i].playedMidi != 0) {
                    std::printf(" (heard %d at %+.0f ms)", j.judgement[i].playedMidi,
                                j.judgement[i].offsetMs);
                }
                std::printf("\n");
            }
        }
        printRow(c.name, t, static_cast<double>(latency) / 1e6);
        std::fflush(stdout);
        all.add(t);
        if (!o.writeDir.empty()) {
            bench::writeWav(o.writeDir + "/" + fileName(c.name) + ".wav", r.audio, r.rate);
            writeCsv(o.writeDir + "/" + fileName(c.name) + ".csv", p);
        }
    }
    if (o.takes) {
        printRow("all", all, NAN);
    }
    runQuiets(o);
    std::printf("\n%.0f s of audio judged in %.0f s\n", all.audioSec, wallSec() - started);
    return 0;
}

// bench_detect --corpus: each condition's pitched notes against the detector's notes (a note
// is found when a detected note of its pitch has its onset within -30 .. +80 ms of the note-on,
// after the condition's calibrated latency; every other detected note is extra).
inline int runDetect(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        return 2;
    }
    platform::FluidEngine::silenceLog();
    header("note detector", o);
    std::printf("\n%-38s %6s %8s %8s %8s %8s %7s\n", "condition", "notes", "found %", "octave",
                "other", "extra", "CPU %");
    Fonts fonts;
    long notes = 0, found = 0, octave = 0, other = 0, extra = 0;
    for (const Condition& c : conditions()) {
        if (!o.takes || !selected(o, c.name) || fonts.failed(c.source.soundfont)) {
            continue;
        }
        // The same performance for a source through every chain.
        const unsigned base = o.seed * 7919u;
        std::mt19937 random(base + fnv(c.source.name));
        const Performance p =
            compose(random, {o.beats, c.source.soundfont.empty() && c.source.articulate, o.ringMs,
                             o.ghostShare});
        if (!c.source.soundfont.empty() && fonts.get(c.source.soundfont) == nullptr) {
            continue;
        }
        const int64_t latency = calibrate(c, fonts, base + 1);
        const Rendered r = renderCondition(c, p, fonts, base);
        const Judged j = judge(p, r.audio, r.rate, latency, c.chain.has(Stage::Clicks));
        std::vector<bool> used(j.heard.size(), false);
        long n = 0, f = 0, oct = 0, oth = 0;
        for (const Note& note : p.notes) {
            if (note.ghost) {
                continue;
            }
            ++n;
            const int64_t at = nanosOf(note.onset, renderRate) + latency;
            int kind = 0; // 0 none, 1 found, 2 octave, 3 other
            std::size_t best = 0;
            for (std::size_t h = 0; h < j.heard.size(); ++h) {
                const int64_t d = nanosOf(j.heard[h].onsetSample, r.rate) - at;
                if (used[h] || d < -30'000'000 || d > 80'000'000) {
                    continue;
                }
                const int k = j.heard[h].midi == note.midi                      ? 1
                              : std::abs(j.heard[h].midi - note.midi) % 12 == 0 ? 2
                                                                                : 3;
                if (kind == 0 || k < kind) {
                    kind = k;
                    best = h;
                }
            }
            if (kind != 0) {
                used[best] = true;
            }
            f += kind == 1;
            oct += kind == 2;
            oth += kind == 3;
        }
        const long x = static_cast<long>(std::count(used.begin(), used.end(), false));
        std::printf("%-38s %6ld %8.2f %8ld %8ld %8ld %7.2f\n", c.name.c_str(), n, share(f, n), oct,
                    oth, x, 100.0 * j.detectCpuSec / j.audioSec);
        std::fflush(stdout);
        notes += n;
        found += f;
        octave += oct;
        other += oth;
        extra += x;
    }
    std::printf("%-38s %6ld %8.2f %8ld %8ld %8ld\n", "all", notes, share(found, notes), octave,
                other, extra);
    runQuiets(o);
    return 0;
}

} // namespace bench::corpus
