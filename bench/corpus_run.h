// The corpus runs of bench_judge and bench_detect (--corpus): every condition (a source through a
// chain) rendered, judged or detected, and printed as one row; then the conditions without a
// note (hum, noise, DC, silence) and the notes the detector finds in them.  Header only.
//   bench_judge --corpus [--seed N] [--beats N] [--minutes M] [--condition NAME-PART]
//               [--write-dir DIR] [--verbose] [--ring-ms MS] [--ghosts SHARE] [--quiet-only]
//               [--peer basic-pitch]
// --ring-ms: the longest a note rings into the next (300; negative: each note stops that long
// before the next); --ghosts: the share of beats followed by a ghost note (0.12); --quiet-only:
// only the conditions without a note, --minutes long each; --peer: a second table, the same
// conditions' audio transcribed by a reference transcriber (bench/peer.h) and judged the same way.
//   bench_detect --corpus (the same options)
#pragma once

#include "bench/corpus.h"
#include "bench/peer.h"
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
    std::string peer;  // a reference transcriber to run beside the detector (--peer)
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
        } else if (arg == "--peer" && more && std::string(argv[i + 1]) == "basic-pitch") {
            o.peer = argv[++i];
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

// What "Calibrate Latency..." plays for the condition: eight right notes at tempo 100.
struct Take {
    Performance p;
    Rendered r;
};

inline Take calibrationTake(const Condition& c, Fonts& fonts, unsigned base) {
    std::mt19937 random(base + fnv(c.name));
    std::uniform_int_distribution<int> pitch(33, 52);
    std::normal_distribution<double> spread(0.0, 5.0);
    Take t;
    Performance& p = t.p;
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
    t.r = renderCondition(c, p, fonts, base + 1);
    return t;
}

// What it keeps of the notes heard in the calibration take (onsets at `rate`): the median of
// the heard onsets less their beats (0 when fewer than five are heard).
inline int64_t calibratedLatency(const Performance& p,
                                 const std::vector<listen::DetectedNote>& heard, int rate) {
    std::vector<double> offsets;
    for (const Beat& b : p.beats) {
        for (const listen::DetectedNote& n : heard) {
            const int64_t d = nanosOf(n.onsetSample, rate) - nanosOf(b.at, renderRate);
            if (std::llabs(d) * 2 < nanosOf(b.period, renderRate)) {
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

// The detector's calibrated latency for the condition.
inline int64_t calibrate(const Condition& c, const Take& t) {
    return calibratedLatency(
        t.p, judge(t.p, t.r.audio, t.r.rate, 0, c.chain.has(Stage::Clicks)).heard, t.r.rate);
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

// The notes played, for reading a take's errors beside what was heard.
inline void writeNotesCsv(const std::string& path, const Performance& p) {
    std::ofstream out(path);
    out << "onset_s,off_s,midi,velocity,kind\n";
    for (const Note& n : p.notes) {
        const char* kind = n.ghost                 ? "ghost"
                           : n.slideSemitones != 0 ? "slide"
                           : n.hammer              ? "hammer"
                                                   : "note";
        char line[96];
        std::snprintf(line, sizeof line, "%.4f,%.4f,%d,%d,%s\n",
                      static_cast<double>(n.onset) / renderRate,
                      static_cast<double>(n.off) / renderRate, n.midi, n.velocity, kind);
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

// `verdictLatency` false: an offline transcriber's, whose verdict times mean nothing.
inline void printRow(const std::string& name, const Tally& t, double latencyMs,
                     bool verdictLatency = true) {
    char p95[16] = "-";
    if (verdictLatency) {
        std::snprintf(p95, sizeof p95, "%.0f", percentileOf(t.latencyMs, 0.95));
    }
    std::printf("%-38s %6ld %8.2f %10.2f %10.2f %9s %8.1f %7.2f\n", name.c_str(), t.beats,
                share(t.agree, t.beats), share(t.rightLost, t.rightBeats),
                share(t.wrongPassed, t.wrongBeats), p95, latencyMs,
                t.audioSec > 0 ? 100.0 * t.cpuSec / t.audioSec : NAN);
}

inline void judgeHeader(const char* first) {
    std::printf("\n%-38s %6s %8s %10s %10s %9s %8s %7s\n", first, "beats", "truth %", "right>bad%",
                "wrong>ok%", "p95 ms", "lat ms", "CPU %");
}

// The verdicts against the truth; with `verbose`, each beat they differ on.
inline Tally tallyOf(const Performance& p, const Judged& j, bool verbose) {
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
        if (verbose && v != static_cast<int>(b.truth)) {
            const double onsetMs =
                b.note >= 0
                    ? static_cast<double>(p.notes[static_cast<std::size_t>(b.note)].onset - b.at) *
                          1000.0 / renderRate
                    : 0.0;
            std::printf("    beat %3zu at %.3f s: truth %s, expected %d, played %d at %+.0f "
                        "ms, judged %s",
                        i, static_cast<double>(b.at) / renderRate, verdictName(b.truth), b.expected,
                        b.played, onsetMs, v < 0 ? "never" : verdictName(static_cast<Verdict>(v)));
            if (v >= 0 && j.judgement[i].playedMidi != 0) {
                std::printf(" (heard %d at %+.0f ms)", j.judgement[i].playedMidi,
                            j.judgement[i].offsetMs);
            }
            std::printf("\n");
        }
    }
    return t;
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
    std::printf("Corpus %s: seed %u; %d beats a condition; notes ring up to %.0f ms into the "
                "next; ghost notes after %.0f %% of the beats; quiet conditions %.1f min each\n",
                what, o.seed, o.beats, o.ringMs, 100.0 * o.ghostShare, o.minutes);
}

inline double wallSec() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The conditions' audio kept for the reference transcriber, which runs once over all of it.
class PeerPass {
public:
    struct Kept {
        std::string name;
        Performance take, calibration;
        int rate = renderRate;
        std::size_t samples = 0;
        std::string takeWav, calibrationWav;
    };
    // What the transcriber made of a kept condition's take.
    struct Result {
        const Kept* kept = nullptr;
        std::vector<listen::DetectedNote> heard; // in onset order
        int64_t latencyNanos = 0;                // calibrated on its own notes
        double seconds = 0;                      // its time on the take
    };

    // Off unless asked for; a line saying why when asked for and it cannot run.
    explicit PeerPass(const Options& o) {
        if (o.peer.empty() || !o.takes) {
            return;
        }
        runner_ = peer::Runner::find(CLEFWORK_SOURCE_DIR);
        if (!runner_.ok()) {
            skipped();
            return;
        }
        if (!o.writeDir.empty()) {
            // Kept: the takes and calibration takes as the transcriber read them.
            dir_ = o.writeDir + "/basic-pitch";
            std::filesystem::create_directories(dir_);
            keepDir_ = on_ = true;
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "clefwork-peer-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            runner_.why = "no temporary directory";
            skipped();
            return;
        }
        dir_ = pattern;
        on_ = true;
    }
    ~PeerPass() {
        if (!dir_.empty() && !keepDir_) {
            std::error_code e;
            std::filesystem::remove_all(dir_, e);
        }
    }
    PeerPass(const PeerPass&) = delete;
    PeerPass& operator=(const PeerPass&) = delete;
    bool on() const { return on_; }

    void keep(const Condition& c, const Performance& p, const Rendered& r,
              const Take& calibration) {
        if (!on_) {
            return;
        }
        Kept k{c.name, p, calibration.p, r.rate, r.audio.size(), {}, {}};
        const std::string stem = dir_ + "/" + std::to_string(kept_.size()) + "-" + fileName(c.name);
        k.takeWav = stem + ".wav";
        k.calibrationWav = stem + "-calibration.wav";
        peer::writeFloatWav(k.takeWav, r.audio, r.rate);
        peer::writeFloatWav(k.calibrationWav, calibration.r.audio, calibration.r.rate);
        kept_.push_back(std::move(k));
    }

    // The transcriber over every kept take; empty (with a line why) when it fails.
    std::vector<Result> transcribe() {
        std::vector<Result> out;
        if (!on_ || kept_.empty()) {
            return out;
        }
        std::vector<std::string> files;
        std::map<std::string, int> rates;
        for (const Kept& k : kept_) {
            files.push_back(k.calibrationWav);
            files.push_back(k.takeWav);
            rates[k.calibrationWav] = rates[k.takeWav] = k.rate;
        }
        std::fflush(stdout);
        const double started = wallSec();
        const std::string text = runner_.run(files);
        if (!runner_.ok()) {
            skipped();
            return out;
        }
        wallSec_ = wallSec() - started;
        auto notes = peer::parseNotes(text, [&](const std::string& f) {
            const auto at = rates.find(f);
            return at == rates.end() ? renderRate : at->second;
        });
        auto byOnset = [](std::vector<listen::DetectedNote>& v) {
            std::stable_sort(v.begin(), v.end(),
                             [](const listen::DetectedNote& a, const listen::DetectedNote& b) {
                                 return a.onsetSample < b.onsetSample;
                             });
        };
        for (const Kept& k : kept_) {
            Result r;
            r.kept = &k;
            byOnset(notes[k.calibrationWav].notes);
            r.latencyNanos =
                calibratedLatency(k.calibration, notes[k.calibrationWav].notes, k.rate);
            r.heard = notes[k.takeWav].notes;
            byOnset(r.heard);
            r.seconds = notes[k.takeWav].seconds;
            out.push_back(std::move(r));
        }
        return out;
    }

    // The transcriber's notes to the beat matcher each the detector's decision time after its
    // onset, as the fair verdicts hear the notes played.
    static Judged judge(const Result& r) {
        const auto decision = static_cast<int64_t>(listen::DetectorParams{}.decisionMs * 1e6);
        std::vector<Arrival> arrivals;
        for (const listen::DetectedNote& n : r.heard) {
            arrivals.push_back({nanosOf(n.onsetSample, r.kept->rate) + decision, n});
        }
        const Kept& k = *r.kept;
        Judged j = judgeNotes(k.take, arrivals, k.rate, r.latencyNanos,
                              nanosOf(static_cast<int64_t>(k.samples) + k.rate / 2, k.rate) +
                                  10'000'000'000LL);
        j.detectCpuSec = r.seconds;
        j.audioSec = static_cast<double>(k.samples) / k.rate;
        return j;
    }

    double wallSeconds() const { return wallSec_; }
    static constexpr const char* suffix = " [basic-pitch]";

private:
    void skipped() const {
        std::printf("peer basic-pitch: row skipped (%s); to run it: cd bench/peer && npm ci\n",
                    runner_.why.c_str());
    }
    peer::Runner runner_;
    std::string dir_;
    bool on_ = false, keepDir_ = false;
    std::vector<Kept> kept_;
    double wallSec_ = 0;
};

// A condition's take: the same performance for a source through every chain.
inline Performance takeOf(const Condition& c, const Options& o, unsigned base) {
    std::mt19937 random(base + fnv(c.source.name));
    return compose(random, {o.beats, c.source.soundfont.empty() && c.source.articulate, o.ringMs,
                            o.ghostShare});
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
    PeerPass peers(o);
    const double started = wallSec();
    if (o.takes) {
        judgeHeader("condition");
    }
    Fonts fonts;
    Tally all;
    for (const Condition& c : conditions()) {
        if (!o.takes || !selected(o, c.name) || fonts.failed(c.source.soundfont)) {
            continue;
        }
        const unsigned base = o.seed * 7919u;
        const Performance p = takeOf(c, o, base);
        if (!c.source.soundfont.empty() && fonts.get(c.source.soundfont) == nullptr) {
            continue;
        }
        const Take calibration = calibrationTake(c, fonts, base + 1);
        const int64_t latency = calibrate(c, calibration);
        const Rendered r = renderCondition(c, p, fonts, base);
        const Judged j = judge(p, r.audio, r.rate, latency, c.chain.has(Stage::Clicks));
        const Tally t = tallyOf(p, j, o.verbose);
        printRow(c.name, t, static_cast<double>(latency) / 1e6);
        std::fflush(stdout);
        all.add(t);
        peers.keep(c, p, r, calibration);
        if (!o.writeDir.empty()) {
            bench::writeWav(o.writeDir + "/" + fileName(c.name) + ".wav", r.audio, r.rate);
            writeCsv(o.writeDir + "/" + fileName(c.name) + ".csv", p);
            writeNotesCsv(o.writeDir + "/" + fileName(c.name) + "-notes.csv", p);
            bench::writeWav(o.writeDir + "/" + fileName(c.name) + "-calibration.wav",
                            calibration.r.audio, calibration.r.rate);
            writeCsv(o.writeDir + "/" + fileName(c.name) + "-calibration.csv", calibration.p);
        }
    }
    if (o.takes) {
        printRow("all", all, NAN);
    }
    const double ours = wallSec() - started;
    if (peers.on()) {
        const std::vector<PeerPass::Result> results = peers.transcribe();
        if (!results.empty()) {
            std::printf("\nThe same audio transcribed by Basic Pitch (offline; p95: -, its verdict "
                        "times mean nothing; CPU %%: its time on the take)");
            judgeHeader("condition");
            Tally peerAll;
            for (const PeerPass::Result& res : results) {
                const Tally t = tallyOf(res.kept->take, PeerPass::judge(res), o.verbose);
                printRow(res.kept->name + PeerPass::suffix, t,
                         static_cast<double>(res.latencyNanos) / 1e6, false);
                peerAll.add(t);
            }
            printRow(std::string("all") + PeerPass::suffix, peerAll, NAN, false);
            std::printf("Basic Pitch: %.0f s of takes, with their calibration takes, in %.0f s\n",
                        peerAll.audioSec, peers.wallSeconds());
        }
    }
    runQuiets(o);
    std::printf("\n%.0f s of audio judged in %.0f s\n", all.audioSec, ours);
    return 0;
}

// A condition's pitched notes against the heard ones (onsets at `rate`): a note is found when a
// heard note of its pitch has its onset within -30 .. +80 ms of the note-on, after the
// calibrated latency; every heard note left over is extra.
struct Found {
    long notes = 0, found = 0, octave = 0, other = 0, extra = 0;
    void add(const Found& f) {
        notes += f.notes;
        found += f.found;
        octave += f.octave;
        other += f.other;
        extra += f.extra;
    }
};

inline Found foundIn(const Performance& p, const std::vector<listen::DetectedNote>& heard, int rate,
                     int64_t latency) {
    Found out;
    std::vector<bool> used(heard.size(), false);
    for (const Note& note : p.notes) {
        if (note.ghost) {
            continue;
        }
        ++out.notes;
        const int64_t at = nanosOf(note.onset, renderRate) + latency;
        int kind = 0; // 0 none, 1 found, 2 octave, 3 other
        std::size_t best = 0;
        for (std::size_t h = 0; h < heard.size(); ++h) {
            const int64_t d = nanosOf(heard[h].onsetSample, rate) - at;
            if (used[h] || d < -30'000'000 || d > 80'000'000) {
                continue;
            }
            const int k = heard[h].midi == note.midi                      ? 1
                          : std::abs(heard[h].midi - note.midi) % 12 == 0 ? 2
                                                                          : 3;
            if (kind == 0 || k < kind) {
                kind = k;
                best = h;
            }
        }
        if (kind != 0) {
            used[best] = true;
        }
        out.found += kind == 1;
        out.octave += kind == 2;
        out.other += kind == 3;
    }
    out.extra = static_cast<long>(std::count(used.begin(), used.end(), false));
    return out;
}

inline void printFound(const std::string& name, const Found& f, double cpuPercent) {
    std::printf("%-38s %6ld %8.2f %8ld %8ld %8ld %7.2f\n", name.c_str(), f.notes,
                share(f.found, f.notes), f.octave, f.other, f.extra, cpuPercent);
}

inline void detectHeader() {
    std::printf("\n%-38s %6s %8s %8s %8s %8s %7s\n", "condition", "notes", "found %", "octave",
                "other", "extra", "CPU %");
}

// bench_detect --corpus: each condition's pitched notes against the detector's notes (foundIn).
inline int runDetect(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        return 2;
    }
    platform::FluidEngine::silenceLog();
    header("note detector", o);
    PeerPass peers(o);
    detectHeader();
    Fonts fonts;
    Found all;
    for (const Condition& c : conditions()) {
        if (!o.takes || !selected(o, c.name) || fonts.failed(c.source.soundfont)) {
            continue;
        }
        const unsigned base = o.seed * 7919u;
        const Performance p = takeOf(c, o, base);
        if (!c.source.soundfont.empty() && fonts.get(c.source.soundfont) == nullptr) {
            continue;
        }
        const Take calibration = calibrationTake(c, fonts, base + 1);
        const int64_t latency = calibrate(c, calibration);
        const Rendered r = renderCondition(c, p, fonts, base);
        const Judged j = judge(p, r.audio, r.rate, latency, c.chain.has(Stage::Clicks));
        const Found f = foundIn(p, j.heard, r.rate, latency);
        printFound(c.name, f, 100.0 * j.detectCpuSec / j.audioSec);
        std::fflush(stdout);
        all.add(f);
        peers.keep(c, p, r, calibration);
    }
    std::printf("%-38s %6ld %8.2f %8ld %8ld %8ld\n", "all", all.notes, share(all.found, all.notes),
                all.octave, all.other, all.extra);
    if (peers.on()) {
        const std::vector<PeerPass::Result> results = peers.transcribe();
        if (!results.empty()) {
            std::printf("\nThe same audio transcribed by Basic Pitch (offline; CPU %%: its time on "
                        "the take)");
            detectHeader();
            Found peerAll;
            for (const PeerPass::Result& res : results) {
                const Found f =
                    foundIn(res.kept->take, res.heard, res.kept->rate, res.latencyNanos);
                printFound(res.kept->name + PeerPass::suffix, f,
                           100.0 * res.seconds * res.kept->rate /
                               static_cast<double>(res.kept->samples));
                peerAll.add(f);
            }
            std::printf("%-38s %6ld %8.2f %8ld %8ld %8ld\n",
                        (std::string("all") + PeerPass::suffix).c_str(), peerAll.notes,
                        share(peerAll.found, peerAll.notes), peerAll.octave, peerAll.other,
                        peerAll.extra);
        }
    }
    runQuiets(o);
    return 0;
}

} // namespace bench::corpus
