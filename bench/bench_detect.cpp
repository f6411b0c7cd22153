// The note detector against rendered bass notes: every pitch from E1 (28) to G#4 (68), both
// Debian soundfonts, fingered and picked bass, three velocities, single ringing notes and four
// notes repeated at tempo 200, clean, with white noise at 20 dB SNR and with metronome clicks at
// -10 dB.  The detector, and the stock `aubionotes` of aubio-tools on the same WAV files.
// Prints tables as it goes; asserts nothing.
//   bench_detect [--quick] [--no-baseline] [--verbose] [--pitch MIDI] [--soundfont NAME-PART]
//                [--mix NAME-PART]
//                [--no-announce] (the metronome's clicks not announced to the detector)
//   bench_detect --corpus [--seed N] [--beats N] [--minutes M] [--condition NAME-PART]
//                [--peer basic-pitch]
//                (bench/corpus_run.h: the corpus's conditions, notes found and extra)
#include "bench/corpus_run.h"
#include "bench/render_bass.h"
#include "listen/detector.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr std::size_t block = 256; // an audio input buffer

struct Event {
    int64_t onset = 0;    // reported onset, samples
    int64_t returned = 0; // samples fed when the event came out
    int midi = 0;
    bool hasReturn = true;
};

struct Score {
    long notes = 0, right = 0, octave = 0, other = 0, missed = 0, extra = 0;
    // From the attack (Take::attacks); the note-on figures alongside.
    std::vector<double> latencyMs, onsetErrorMs, noteOnLatencyMs, noteOnErrorMs;
    double cpuSec = 0, audioSec = 0;
    long repeatedTakes = 0, repeatedAllFound = 0;
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double childCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

// Matches events to the rendered onsets: an event counts for the first onset it falls within
// -30 ms .. +80 ms of; every other event is extra.
void score(const bench::Take& take, const std::vector<Event>& events, Score& s, bool verbose,
           const char* label) {
    std::vector<bool> used(events.size(), false);
    long found = 0;
    for (std::size_t n = 0; n < take.onsets.size(); ++n) {
        const int64_t onset = take.onsets[n];
        const int64_t attack = take.attacks[n];
        ++s.notes;
        bool hit = false;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const double ms = static_cast<double>(events[i].onset - onset) * 1000.0 / rate;
            if (used[i] || ms < -30.0 || ms > 80.0) {
                continue;
            }
            used[i] = true;
            hit = true;
            ++found;
            const int diff = events[i].midi - take.midi;
            if (diff == 0) {
                ++s.right;
            } else if (diff % 12 == 0 || diff == 19 || diff == -19) {
                ++s.octave;
            } else {
                ++s.other;
            }
            const double error = static_cast<double>(events[i].onset - attack) * 1000.0 / rate;
            const double latency = static_cast<double>(events[i].returned - attack) * 1000.0 / rate;
            s.onsetErrorMs.push_back(std::fabs(error));
            s.noteOnErrorMs.push_back(std::fabs(ms));
            if (events[i].hasReturn) {
                s.latencyMs.push_back(latency);
                s.noteOnLatencyMs.push_back(static_cast<double>(events[i].returned - onset) *
                                            1000.0 / rate);
            }
            if (verbose && diff != 0) {
                std::printf("    %s midi %d: heard %d\n", label, take.midi, events[i].midi);
            } else if (verbose &&
                       (std::fabs(error) > 10.0 || (events[i].hasReturn && latency > 100.0))) {
                std::printf("    %s midi %d: onset %+.1f ms from the attack (%+.1f from the "
                            "note-on), latency %.1f ms, at %.3f s\n",
                            label, take.midi, error, ms, latency,
                            static_cast<double>(onset) / rate);
            }
            break;
        }
        if (!hit) {
            ++s.missed;
            if (verbose) {
                std::printf("    %s midi %d: missed onset at %.3f s\n", label, take.midi,
                            static_cast<double>(onset) / rate);
            }
        }
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (!used[i]) {
            ++s.extra;
            if (verbose) {
                std::printf("    %s midi %d: extra %d at %.3f s\n", label, take.midi,
                            events[i].midi, static_cast<double>(events[i].onset) / rate);
            }
        }
    }
    if (take.onsets.size() > 1) {
        ++s.repeatedTakes;
        if (found == static_cast<long>(take.onsets.size())) {
            ++s.repeatedAllFound;
        }
    }
    s.audioSec += static_cast<double>(take.samples.size()) / rate;
}

// With `announce`, the program's own clicks are announced to the detector as the window does with
// its metronome on (whether or not the input hears them): a few milliseconds off either way.
std::vector<Event> runDetector(const listen::DetectorParams& params, const bench::Take& take,
                               double& cpu, bool announce) {
    const double start = cpuNow();
    listen::NoteDetector detector(params);
    if (announce) {
        std::mt19937 random(static_cast<unsigned>(take.samples.size()));
        std::uniform_real_distribution<double> jitterMs(-3.0, 3.0);
        // The first of each bar's four clicks is the accent's bass drum.
        for (std::size_t i = 0; i < take.clicks.size(); ++i) {
            detector.ownClick(take.clicks[i] + std::llround(jitterMs(random) * rate / 1000.0),
                              i % 4 == 0);
        }
    }
    std::vector<Event> events;
    for (std::size_t at = 0; at < take.samples.size(); at += block) {
        const std::size_t n = std::min(block, take.samples.size() - at);
        for (const listen::DetectedNote& note : detector.feed(take.samples.data() + at, n)) {
            events.push_back({note.onsetSample, detector.samplesFed(), note.midi, true});
        }
    }
    cpu += cpuNow() - start;
    return events;
}

// The stock command line with its defaults; it prints "midi onset offset" lines (seconds).
std::vector<Event> runBaseline(const std::string& wav, double& cpu) {
    std::vector<Event> events;
    const double before = childCpu();
    const std::string command = "aubionotes -i '" + wav + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return events;
    }
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        double midi = 0, on = 0, off = 0;
        if (std::sscanf(line, "%lf %lf %lf", &midi, &on, &off) == 3) {
            events.push_back({static_cast<int64_t>(std::lround(on * rate)), 0,
                              static_cast<int>(std::lround(midi)), false});
        }
    }
    pclose(pipe);
    cpu += childCpu() - before;
    return events;
}

void printHeader() {
    std::printf("%-26s %-10s %6s %8s %6s %6s %6s %6s %9s %9s %9s %7s %8s %9s %9s\n", "material",
                "method", "notes", "right%", "oct", "other", "missed", "extra", "lat med",
                "lat p95", "onset p95", "rep ok", "CPU %", "on lat95", "on err95");
}

void printRow(const std::string& material, const std::string& method, const Score& s) {
    const double right = s.notes ? 100.0 * static_cast<double>(s.right) / s.notes : 0.0;
    char rep[32];
    std::snprintf(rep, sizeof rep, "%ld/%ld", s.repeatedAllFound, s.repeatedTakes);
    std::printf(
        "%-26s %-10s %6ld %8.2f %6ld %6ld %6ld %6ld %9.1f %9.1f %9.1f %7s %8.3f %9.1f %9.1f\n",
        material.c_str(), method.c_str(), s.notes, right, s.octave, s.other, s.missed, s.extra,
        percentile(s.latencyMs, 0.5), percentile(s.latencyMs, 0.95),
        percentile(s.onsetErrorMs, 0.95), rep, s.audioSec > 0 ? 100.0 * s.cpuSec / s.audioSec : 0.0,
        percentile(s.noteOnLatencyMs, 0.95), percentile(s.noteOnErrorMs, 0.95));
    std::fflush(stdout);
}

void merge(Score& into, const Score& s) {
    into.notes += s.notes;
    into.right += s.right;
    into.octave += s.octave;
    into.other += s.other;
    into.missed += s.missed;
    into.extra += s.extra;
    into.latencyMs.insert(into.latencyMs.end(), s.latencyMs.begin(), s.latencyMs.end());
    for (auto [to, from] : {std::pair{&into.onsetErrorMs, &s.onsetErrorMs},
                            std::pair{&into.noteOnLatencyMs, &s.noteOnLatencyMs},
                            std::pair{&into.noteOnErrorMs, &s.noteOnErrorMs}}) {
        to->insert(to->end(), from->begin(), from->end());
    }
    into.cpuSec += s.cpuSec;
    into.audioSec += s.audioSec;
    into.repeatedTakes += s.repeatedTakes;
    into.repeatedAllFound += s.repeatedAllFound;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--corpus") {
            return bench::corpus::runDetect(argc, argv);
        }
    }
    bool quick = false, baseline = true, verbose = false, announce = true;
    int only = 0;
    std::string onlyFont, onlyMix;
    const std::vector<std::string> methods = {"scored"};
    const listen::DetectorParams tuning;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--no-announce") {
            announce = false;
        } else if (arg == "--no-baseline") {
            baseline = false;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--pitch" && more) {
            only = std::atoi(argv[++i]);
        } else if (arg == "--soundfont" && more) {
            onlyFont = argv[++i];
        } else if (arg == "--mix" && more) {
            onlyMix = argv[++i];
        } else if (arg == "--methods" && more) {
            ++i; // the detector has one model now; kept so that older command lines still run
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    platform::FluidEngine::silenceLog();
    if (baseline && std::system("command -v aubionotes >/dev/null 2>&1") != 0) {
        std::printf("aubionotes not installed (apt-get install aubio-tools): no baseline\n");
        baseline = false;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench_detect." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);

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
    std::vector<int> pitches, velocities = {40, 80, 120}, programs = {33, 34};
    for (int m = 28; m <= 68; ++m) {
        if (only ? m == only : (!quick || m <= 31 || m % 4 == 0 || m == 68)) {
            pitches.push_back(m);
        }
    }
    if (quick) {
        velocities = {80};
    }
    const bench::Mix mixes[] = {bench::Mix::Clean, bench::Mix::Noise, bench::Mix::Clicks};
    std::vector<std::string> columns = methods;
    if (baseline) {
        columns.push_back("aubionotes");
    }
    std::printf("Note detector: %zu pitches x %zu velocities x 2 programs x %zu soundfonts, single "
                "notes (1.5 s) and 4 repeated at tempo 200; %d Hz; fed in blocks of %zu\n",
                pitches.size(), velocities.size(), soundfonts.size(), rate, block);
    std::map<std::pair<int, std::string>, Score> totals; // (mix, method)
    printHeader();
    for (const std::string& sf : soundfonts) {
        bench::BassRenderer renderer;
        std::string error;
        if (!renderer.load(error, rate, sf)) {
            std::printf("%s: %s\n", sf.c_str(), error.c_str());
            continue;
        }
        const std::string sfName = std::filesystem::path(sf).stem().string();
        for (int program : programs) {
            for (int mi = 0; mi < 3; ++mi) {
                if (std::string(bench::mixName(mixes[mi])).find(onlyMix) == std::string::npos) {
                    continue;
                }
                std::map<std::string, Score> group;
                for (int velocity : velocities) {
                    for (int midi : pitches) {
                        for (int count : {1, 4}) {
                            bench::TakeSpec spec;
                            spec.program = program;
                            spec.midi = midi;
                            spec.velocity = velocity;
                            spec.count = count;
                            spec.mix = mixes[mi];
                            spec.seed = static_cast<unsigned>(midi * 1000 + velocity + count);
                            const bench::Take take = renderer.render(spec);
                            char label[96];
                            std::snprintf(label, sizeof label, "%s p%d v%d x%d %s", sfName.c_str(),
                                          program, velocity, count, bench::mixName(mixes[mi]));
                            for (const std::string& method : methods) {
                                const listen::DetectorParams& params = tuning;
                                Score s;
                                const auto events = runDetector(params, take, s.cpuSec, announce);
                                score(take, events, s, verbose,
                                      (std::string(label) + " " + method).c_str());
                                merge(group[method], s);
                            }
                            if (baseline) {
                                const std::string wav = (dir / "take.wav").string();
                                bench::writeWav(wav, take.samples, rate);
                                Score s;
                                const auto events = runBaseline(wav, s.cpuSec);
                                score(take, events, s, false, label);
                                merge(group["aubionotes"], s);
                            }
                        }
                    }
                }
                const std::string material = sfName.substr(0, 8) +
                                             (program == 33 ? " fing " : " pick ") +
                                             bench::mixName(mixes[mi]);
                for (const std::string& column : columns) {
                    printRow(material, column, group[column]);
                    merge(totals[{mi, column}], group[column]);
                }
            }
        }
    }
    std::printf("\nTotals\n");
    printHeader();
    for (int mi = 0; mi < 3; ++mi) {
        for (const std::string& column : columns) {
            if (totals[{mi, column}].notes == 0) {
                continue; // a material left out with --mix
            }
            printRow(std::string("all ") + bench::mixName(mixes[mi]), column, totals[{mi, column}]);
        }
    }
    std::printf("(right%%: right pitch of the rendered notes; oct: an octave, two or an octave and "
                "a fifth off; an event counts for a note within -30..+80 ms of its note-on; "
                "lat: from the attack (where the bass alone first reaches a tenth of its "
                "loudest, see render_bass.h) to the block that returned the event, ms; onset "
                "p95: |reported onset - attack|, ms; on lat95, on err95: the same from the "
                "note-on; rep ok: takes of 4 repeated notes with all 4 "
                "found; CPU: process time per second of audio, the baseline's includes its "
                "start-up and file reading)\n");
    std::filesystem::remove_all(dir);
    return 0;
}
