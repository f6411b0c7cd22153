// Whether the beat the player hears keeps to the tempo shown.  The real window (offscreen) plays
// through the real built-in synthesiser with FluidSynth's file audio driver; its WAV is the
// synthesiser's own sample time, what a player would hear from it.  The onsets found in it give
// the tempo heard (against the tempo bar) and each beat's deviation from an exact grid.  In the
// same run a reference schedules the same messages on FluidSynth's sequencer alone, at exact beat
// times, into a WAV of its own: the limit.  Each tempo runs in metronome and in note mode, idle
// and with every core spun by a busy child.  Also: how long an immediate note-on takes to sound,
// and the process's CPU at tempo 200.  Prints tables; asserts nothing.
//
//   bench_metronome [--slow N] [--fast N] [--idle-only | --loaded-only] [--soundfont F]
//                   [--tempo T] [--clicks-only] [--verbose]
//     N beats at tempi 30 and 60 (default 16) and at 120 and 200 (default 48); --tempo runs one
//     tempo only, --clicks-only the metronome only, --verbose lists every onset.
#include "bench/bench_support.h"
#include "engine/beatclock.h"
#include "platform/clock.h"
#include "platform/fluid_audio.h"
#include "platform/fluid_engine.h"
#include "platform/fluid_schedule.h"
#include "platform/midi.h"
#include "platform/msgbox.h"
#include "sound/midi_cmd.h"
#include "sound/midi_out.h"
#include "ui/stavebass.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

bool verbose = false;
constexpr double kRate = platform::FluidEngine::fileSampleRate;

// The system's MIDI with every scheduled message recorded: what the window asked for, when.
class RecordingMidi : public platform::MidiBackend {
public:
    explicit RecordingMidi(std::unique_ptr<platform::MidiBackend> real) : real_(std::move(real)) {}
    struct Sent {
        uint32_t message;
        int64_t at; // device clock, 0 for at once
    };
    std::vector<Sent> sent;
    uint32_t numDevs() override { return real_->numDevs(); }
    platform::MMRESULT getDevCaps(int32_t id, platform::MidiOutCaps& caps) override {
        return real_->getDevCaps(id, caps);
    }
    platform::MMRESULT open(platform::HMIDIOUT& h, int32_t id) override {
        return real_->open(h, id);
    }
    platform::MMRESULT close(platform::HMIDIOUT h) override { return real_->close(h); }
    platform::MMRESULT shortMsg(platform::HMIDIOUT h, uint32_t m) override {
        sent.push_back({m, 0});
        return real_->shortMsg(h, m);
    }
    std::string errorText(platform::MMRESULT code) override { return real_->errorText(code); }
    bool schedules(platform::HMIDIOUT h) override { return real_->schedules(h); }
    int64_t clockNanos(platform::HMIDIOUT h) override { return real_->clockNanos(h); }
    platform::MMRESULT shortMsgAt(platform::HMIDIOUT h, uint32_t m, int64_t at) override {
        sent.push_back({m, at});
        return real_->shortMsgAt(h, m, at);
    }
    void cancelScheduled(platform::HMIDIOUT h) override { real_->cancelScheduled(h); }
    int64_t toMonotonic(platform::HMIDIOUT h, int64_t t) override {
        return real_->toMonotonic(h, t);
    }

private:
    std::unique_ptr<platform::MidiBackend> real_;
};

// The left channel of a 16-bit stereo WAV written by the file driver.
std::vector<float> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> out;
    if (bytes.size() <= 44) {
        return out;
    }
    const std::size_t frames = (bytes.size() - 44) / 4;
    out.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        int16_t v = 0;
        std::memcpy(&v, bytes.data() + 44 + 4 * i, 2);
        out[i] = static_cast<float>(v) / 32768.0f;
    }
    return out;
}

// The onset near an expected sample: where the signal's first difference (which weighs the new
// sound's attack above the low tone of a bass note still ringing) first rises past a third of
// the way from what rang just before to the new sound's peak.
double onsetNear(const std::vector<float>& x, double expected) {
    const auto e = static_cast<int64_t>(expected);
    const auto ms = static_cast<int64_t>(kRate / 1000);
    auto d = [&](int64_t i) {
        return std::fabs(x[static_cast<std::size_t>(i)] - x[static_cast<std::size_t>(i - 1)]);
    };
    const int64_t lo = std::max<int64_t>(e - 15 * ms, 1);
    const int64_t hi = std::min<int64_t>(e + 40 * ms, std::ssize(x));
    auto absMax = [&](int64_t from, int64_t to) {
        float m = 0.0f;
        for (int64_t i = std::max(from, lo); i < std::min(to, hi); ++i) {
            m = std::max(m, d(i));
        }
        return m;
    };
    const float before = absMax(e - 15 * ms, e - 5 * ms);
    const float peak = absMax(e - 5 * ms, e + 40 * ms);
    const float threshold = before + (peak - before) / 3.0f;
    for (int64_t i = std::max(e - 5 * ms, lo); i < hi; ++i) {
        if (d(i) > threshold) {
            return static_cast<double>(i);
        }
    }
    return -1.0;
}

struct Result {
    double bpm = 0;                  // from a least-squares line through the onsets
    double errorPct = 0;             // against the tempo bar
    double sd = 0, p99 = 0, max = 0; // ms, each onset from the exact grid (per kind of sound)
    std::size_t found = 0, beats = 0;
};

// beats: the beat index and the kind of each sound (accent, click, pitch), at its sample.
Result analyse(const std::vector<float>& wav, const std::vector<std::pair<int64_t, int>>& beats,
               const std::vector<double>& expected, int tempo) {
    Result r;
    r.beats = beats.size();
    const double period = 60.0 / tempo * kRate;
    std::vector<double> n, t;
    std::map<int, std::vector<double>> byKind;
    std::vector<std::pair<int, double>> offsets;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        const double on = onsetNear(wav, expected[i]);
        if (verbose) {
            std::printf("  beat %lld kind %d expected %.0f onset %.0f (%+.2f ms)\n",
                        static_cast<long long>(beats[i].first), beats[i].second, expected[i], on,
                        on < 0 ? 0.0 : (on - expected[i]) / kRate * 1000.0);
        }
        if (on < 0) {
            continue;
        }
        n.push_back(static_cast<double>(beats[i].first));
        t.push_back(on);
        offsets.emplace_back(beats[i].second, on - static_cast<double>(beats[i].first) * period);
    }
    r.found = n.size();
    if (n.size() < 3) {
        return r;
    }
    // The sample's own attack differs from one sound to the next: each kind is measured from
    // its own median place on the grid.
    for (const auto& [kind, off] : offsets) {
        byKind[kind].push_back(off);
    }
    std::map<int, double> medians;
    for (auto& [kind, v] : byKind) {
        std::sort(v.begin(), v.end());
        medians[kind] = v[v.size() / 2];
    }
    std::vector<double> dev;
    std::vector<double> corrected;
    for (const auto& [kind, off] : offsets) {
        dev.push_back((off - medians[kind]) / kRate * 1000.0);
    }
    for (std::size_t i = 0; i < t.size(); ++i) {
        corrected.push_back(t[i] - medians[offsets[i].first] + medians.begin()->second);
    }
    double mn = 0, mt = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
        mn += n[i];
        mt += corrected[i];
    }
    mn /= static_cast<double>(n.size());
    mt /= static_cast<double>(n.size());
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
        sxy += (n[i] - mn) * (corrected[i] - mt);
        sxx += (n[i] - mn) * (n[i] - mn);
    }
    const double slope = sxy / sxx; // samples a beat
    r.bpm = 60.0 * kRate / slope;
    r.errorPct = (r.bpm / tempo - 1.0) * 100.0;
    double ss = 0;
    std::vector<double> absDev;
    for (double d : dev) {
        ss += d * d;
        absDev.push_back(std::fabs(d));
    }
    r.sd = std::sqrt(ss / static_cast<double>(dev.size()));
    const bench::Stats s = bench::stats(absDev);
    r.p99 = s.p99;
    r.max = s.max;
    return r;
}

// Groups the recorded messages by their time: one group a beat, the note-ons' kinds.
struct Beat {
    int64_t at = 0;
    std::vector<uint32_t> messages;
    int kind = 0; // the first note-on's key, and its channel's 9 for a click
};

std::vector<Beat> beatsOf(const std::vector<RecordingMidi::Sent>& sent) {
    std::vector<Beat> beats;
    for (const auto& s : sent) {
        if (s.at == 0) {
            continue;
        }
        if (beats.empty() || beats.back().at != s.at) {
            beats.push_back({s.at, {}, 0});
        }
        beats.back().messages.push_back(s.message);
        const uint32_t status = s.message & 0xF0u;
        if (status == 0x90 && ((s.message >> 16) & 0x7Fu) != 0 && beats.back().kind == 0) {
            beats.back().kind =
                static_cast<int>((s.message >> 8) & 0x7Fu) + ((s.message & 0x0Fu) == 9 ? 1000 : 0);
        }
    }
    return beats;
}

void printResult(const char* who, const char* mode, int tempo, const Result& r) {
    std::printf("%-9s %-6s %5d %5zu/%-5zu %9.4f %+9.4f %7.3f %7.3f %7.3f\n", who, mode, tempo,
                r.found, r.beats, r.bpm, r.errorPct, r.sd, r.p99, r.max);
    std::fflush(stdout);
}

// The same beats scheduled on a synthesiser and sequencer of its own, at exact times.
Result reference(const std::vector<Beat>& beats, int tempo, const std::string& wavPath) {
    platform::FluidEngine engine;
    std::string error;
    if (!engine.load(error, kRate)) {
        std::fprintf(stderr, "reference: %s\n", error.c_str());
        return {};
    }
    platform::FluidScheduler scheduler(engine.synth());
    platform::AudioEnvironment env;
    env.forcedDriver = "file";
    env.wavFile = wavPath;
    engine.send(0x22C0u); // program 34 on channel 0, as the window selects it
    engine.ensurePreset(9);
    platform::FluidAudio audio;
    if (!audio.start(engine, env, error)) {
        std::fprintf(stderr, "reference: %s\n", error.c_str());
        return {};
    }
    const int64_t beatNanos = engine::BeatClock::beatNanos(tempo);
    const int64_t first = 1'000'000'000;
    std::vector<std::pair<int64_t, int>> index;
    std::vector<double> expected;
    for (std::size_t k = 0; k < beats.size(); ++k) {
        const int64_t at = first + static_cast<int64_t>(k) * beatNanos;
        for (uint32_t m : beats[k].messages) {
            scheduler.sendAt(m, at);
        }
        index.emplace_back(static_cast<int64_t>(k), beats[k].kind);
        expected.push_back(static_cast<double>(at) / 1e9 * kRate);
    }
    const int64_t end = first + static_cast<int64_t>(beats.size() + 1) * beatNanos;
    while (scheduler.nowNanos() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    audio.stop();
    engine.unload();
    return analyse(readWav(wavPath), index, expected, tempo);
}

Result runWindow(stavebass& w, RecordingMidi& midi, bool notes, int tempo, int count,
                 const std::string& wavPath, double* cpuPct, std::vector<Beat>* played) {
    setenv("CLEFWORK_AUDIO_FILE", wavPath.c_str(), 1);
    MIDI_OUT::OpenDevice(-1);
    MIDI_CMD::ProgramChange(0, 0, 34);
    // The CPU is the running cost: the soundfont's parse, a start-up cost, is over first.
    if (platform::FluidEngine* synth = platform::builtInSynth()) {
        synth->waitForSoundfont(30000);
    }
    w.Check4->setCheckState(notes ? Qt::Unchecked : Qt::Checked);
    w.temposcroll->setValue(tempo);
    midi.sent.clear();
    // Note mode sounds nothing until a bar has been handed over: count its beats from then.
    const int64_t extra = notes ? 4 : 0;
    const double cpu0 = bench::cpuMs();
    const int64_t wall0 = platform::monotonicNanos();
    w.Start_Click();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (w.beatClock.played() >= count + extra) {
            loop.quit();
        }
    });
    poll.start(20);
    loop.exec();
    const double cpu = bench::cpuMs() - cpu0;
    const double wall = static_cast<double>(platform::monotonicNanos() - wall0) / 1e6;
    *cpuPct = 100.0 * cpu / wall;
    bench::runEvents(static_cast<int>(60000 / tempo) + 300); // the last beat rings out
    // Stop drops what was sent ahead of its time: those beats are not heard.
    const int64_t stopped = MIDI_OUT::ClockNanos();
    w.Stop_Click();
    MIDI_OUT::CloseDevice();
    std::vector<Beat> beats = beatsOf(midi.sent);
    std::erase_if(beats, [stopped](const Beat& b) { return b.at > stopped; });
    std::vector<std::pair<int64_t, int>> index;
    std::vector<double> expected;
    const int64_t beatNanos = engine::BeatClock::beatNanos(tempo);
    const int64_t first = beats.empty() ? 0 : beats.front().at;
    for (const Beat& b : beats) {
        const auto k = static_cast<int64_t>(
            std::llround(static_cast<double>(b.at - first) / static_cast<double>(beatNanos)));
        index.emplace_back(k, b.kind);
        expected.push_back(static_cast<double>(b.at) / 1e9 * kRate);
    }
    *played = beats;
    return analyse(readWav(wavPath), index, expected, tempo);
}

// How long an immediate note-on takes to be heard: sent at a known point of the sample clock
// while the file driver renders, found in its WAV.
void immediateLatency(const std::string& wavPath) {
    platform::FluidEngine engine;
    std::string error;
    if (!engine.load(error, kRate)) {
        return;
    }
    engine.ensurePreset(9);
    platform::FluidScheduler clock(engine.synth());
    platform::AudioEnvironment env;
    env.forcedDriver = "file";
    env.wavFile = wavPath;
    platform::FluidAudio audio;
    if (!audio.start(engine, env, error)) {
        return;
    }
    std::vector<double> sentAt;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 20; ++i) {
        sentAt.push_back(static_cast<double>(clock.nowNanos()) / 1e9 * kRate);
        fluid_synth_noteon(engine.synth(), 9, 37, 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(200 + 7 * (i % 5)));
        fluid_synth_noteoff(engine.synth(), 9, 37);
    }
    audio.stop();
    engine.unload();
    const std::vector<float> wav = readWav(wavPath);
    std::vector<double> late;
    for (double s : sentAt) {
        const double on = onsetNear(wav, s);
        if (on >= 0) {
            late.push_back((on - s) / kRate * 1000.0);
        }
    }
    const bench::Stats st = bench::stats(late);
    std::printf(
        "\nAn immediate note-on (side stick) heard after the sample clock's time at its send "
        "(ms, %zu of 20 found): median %.2f, p99 %.2f, max %.2f\n",
        st.count, st.median, st.p99, st.max);
}

} // namespace

int main(int argc, char** argv) {
    int slow = 16;
    int fast = 48;
    bool idle = true;
    bool loaded = true;
    int onlyTempo = 0;
    bool clicksOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--slow") == 0 && i + 1 < argc) {
            slow = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--fast") == 0 && i + 1 < argc) {
            fast = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--idle-only") == 0) {
            loaded = false;
        } else if (std::strcmp(argv[i], "--loaded-only") == 0) {
            idle = false;
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else if (std::strcmp(argv[i], "--tempo") == 0 && i + 1 < argc) {
            onlyTempo = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--clicks-only") == 0) {
            clicksOnly = true;
        } else if (std::strcmp(argv[i], "--soundfont") == 0 && i + 1 < argc) {
            setenv("CLEFWORK_SOUNDFONT", argv[++i], 1);
        }
    }
    setenv("CLEFWORK_AUDIO_DRIVER", "file", 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    setenv("CLEFWORK_AUDIO_FILE", (folder + "/start.wav").c_str(), 1);
    QApplication app(argc, argv);
    bench::useProgramFolder();
    platform::setMessageBoxHook([](const QString& text) {
        std::fprintf(stderr, "message: %s\n", text.toStdString().c_str());
    });
    auto* recording = new RecordingMidi(platform::makeSystemMidi());
    platform::setMidi(recording);
    stavebass w;
    bench::runEvents(500);

    std::printf("Beats heard in the synthesiser's output (its own sample time), %s\n",
                platform::FluidEngine::findSoundfont().c_str());
    std::printf("%-9s %-6s %5s %11s %9s %9s %7s %7s %7s\n", "who", "mode", "tempo", "found", "bpm",
                "error %", "sd ms", "p99 ms", "max ms");
    int run = 0;
    double cpu200 = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if ((pass == 0 && !idle) || (pass == 1 && !loaded)) {
            continue;
        }
        std::unique_ptr<bench::CoreLoad> load;
        if (pass == 1) {
            load = std::make_unique<bench::CoreLoad>(
                static_cast<int>(std::thread::hardware_concurrency()));
        }
        std::printf("-- %s\n", pass == 0 ? "idle" : "every core busy");
        for (bool notes : {false, true}) {
            if (notes && clicksOnly) {
                continue;
            }
            for (int tempo : {30, 60, 120, 200}) {
                if (onlyTempo != 0 && tempo != onlyTempo) {
                    continue;
                }
                const int count = tempo >= 120 ? fast : slow;
                const std::string wav = folder + "/w" + std::to_string(run) + ".wav";
                const std::string ref = folder + "/r" + std::to_string(run) + ".wav";
                ++run;
                double cpu = 0;
                std::vector<Beat> played;
                const Result r = runWindow(w, *recording, notes, tempo, count, wav, &cpu, &played);
                printResult("window", notes ? "note" : "click", tempo, r);
                printResult("reference", notes ? "note" : "click", tempo,
                            reference(played, tempo, ref));
                if (tempo == 200 && !notes && pass == 0) {
                    cpu200 = cpu;
                }
            }
        }
    }
    if (idle) {
        std::printf(
            "\nProcess CPU at tempo 200, metronome, idle (the synthesiser rendering through "
            "the file driver included, from the press of Start with the soundfont in): %.2f %% "
            "of a core\n",
            cpu200);
    }
    immediateLatency(folder + "/latency.wav");
    platform::setMidi(nullptr);
    return 0;
}
