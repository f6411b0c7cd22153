// The built-in synthesiser rendered offline with the real soundfont, device -1 writing a WAV
// through the file driver, and the sequencer ports over a scripted port layer.
#include "platform/alsa_ports.h"
#include "platform/fluid_audio.h"
#include "platform/fluid_engine.h"
#include "platform/midi.h"
#include "sound/midi_out.h"
#include "support/soundfonts.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <thread>

using namespace platform;

namespace {

// ---------------------------------------------------------------------------------------------
// Helpers

// Sets an environment variable for the life of the object and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

constexpr double rate = FluidEngine::fileSampleRate;

uint32_t pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status) + static_cast<uint32_t>(data1) * 256u +
           static_cast<uint32_t>(data2) * 65536u;
}

double dbfs(double level) {
    return 20.0 * std::log10(std::max(level, 1e-12));
}

double peak(const std::vector<float>& samples, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    double p = 0.0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        p = std::max(p, static_cast<double>(std::fabs(samples[i])));
    }
    return p;
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double sum = 0.0;
    to = std::min(to, samples.size());
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// First sample above -60 dBFS, or -1.
long firstSound(const std::vector<float>& samples, double threshold = 0.001) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// The fundamental by autocorrelation between minHz and maxHz.  The shortest lag whose
// correlation comes close to the best one is taken, so a period of twice the true one (an octave
// too low) loses against the true period.
double pitchOf(const std::vector<float>& x, double sampleRate, double minHz = 25.0,
               double maxHz = 500.0) {
    const auto minLag = static_cast<std::size_t>(sampleRate / maxHz);
    const auto maxLag = static_cast<std::size_t>(sampleRate / minHz);
    if (x.size() <= maxLag * 2) {
        return 0.0;
    }
    const std::size_t n = x.size() - maxLag;
    std::vector<double> r(maxLag + 1, 0.0);
    double energy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        energy += static_cast<double>(x[i]) * x[i];
    }
    if (energy <= 0.0) {
        return 0.0;
    }
    double best = 0.0;
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += static_cast<double>(x[i]) * x[i + lag];
        }
        r[lag] = sum / energy;
        best = std::max(best, r[lag]);
    }
    for (std::size_t lag = minLag + 1; lag < maxLag; ++lag) {
        // a local maximum near the best
        if (r[lag] >= 0.85 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            return sampleRate / static_cast<double>(lag);
        }
    }
    return 0.0;
}

// A mono render of the offline synthesiser (the louder of both channels at each sample), with
// the named soundfont.
class OfflineSynth {
public:
    bool load(std::string& error) {
        return engine.loadFile(testing_support::namedSoundfont(), error, rate);
    }

    std::vector<float> render(double seconds) {
        const int frames = static_cast<int>(seconds * rate);
        std::vector<float> left(static_cast<std::size_t>(frames));
        std::vector<float> right(static_cast<std::size_t>(frames));
        // In audio periods, as a driver would ask for them.
        for (int done = 0; done < frames; done += FluidEngine::periodSize) {
            const int n = std::min(FluidEngine::periodSize, frames - done);
            engine.render(left.data() + done, right.data() + done, n);
        }
        std::vector<float> mono(left.size());
        for (std::size_t i = 0; i < mono.size(); ++i) {
            mono[i] = std::fabs(left[i]) > std::fabs(right[i]) ? left[i] : right[i];
        }
        return mono;
    }

    void send(std::initializer_list<uint32_t> messages) {
        for (uint32_t m : messages) {
            ASSERT_TRUE(engine.send(m)) << std::hex << m;
        }
    }

    FluidEngine engine;
};

const uint32_t bankSelect = pack(0xB0, 0, 0);
const uint32_t pickedBass = pack(0xC0, 34, 0);

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing_support::namedSoundfont().empty()) {
            GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
        }
        std::string error;
        ASSERT_TRUE(synth.load(error)) << error;
    }
    OfflineSynth synth;
};

// ---------------------------------------------------------------------------------------------
// The offline synthesiser

struct SoundCase {
    const char* what;
    bool bass; // program 34 on channel 0 first
    uint32_t noteOn;
};

const SoundCase loudest[] = {
    {"accent click", false, pack(0x99, 36, 127)},
    {"beat click", false, pack(0x99, 37, 127)},
    {"bass E0 at bass pitch", true, pack(0x90, 40, 127)},
    {"bass low E", true, pack(0x90, 28, 127)},
};

TEST_F(SynthTest, ClicksAndNotesStartAtOnceAndPeakNearMinusSixDbWithoutClipping) {
    for (const SoundCase& c : loudest) {
        SCOPED_TRACE(c.what);
        OfflineSynth fresh;
        std::string error;
        ASSERT_TRUE(fresh.load(error)) << error;
        if (c.bass) {
            fresh.send({bankSelect, pickedBass});
        }
        fresh.send({c.noteOn});
        const std::vector<float> out = fresh.render(1.0);
        const long onset = firstSound(out);
        ASSERT_GE(onset, 0) << "no sound at all";
        EXPECT_LT(static_cast<double>(onset) / rate * 1000.0, 5.0) << "ms to the first sound";
        const double level = dbfs(peak(out));
        EXPECT_LT(peak(out), 1.0) << "clipped";
        EXPECT_GT(level, -9.0);
        EXPECT_LT(level, -4.5);
    }
}

TEST_F(SynthTest, VelocityZeroMakesNoSound) {
    synth.send({bankSelect, pickedBass, pack(0x99, 36, 0), pack(0x99, 37, 0), pack(0x90, 40, 0)});
    EXPECT_LT(peak(synth.render(0.3)), 1e-5);
}

struct PitchCase {
    int note;
    double hz;
};

TEST_F(SynthTest, PickedBassSoundsAtItsPitch) {
    for (const PitchCase c : {PitchCase{40, 82.41}, PitchCase{28, 41.20}, PitchCase{52, 164.81}}) {
        SCOPED_TRACE(c.note);
        OfflineSynth fresh;
        std::string error;
        ASSERT_TRUE(fresh.load(error)) << error;
        fresh.send({bankSelect, pickedBass, pack(0x90, c.note, 100)});
        std::vector<float> out = fresh.render(0.4);
        // ~0.3 s after the attack
        out.erase(out.begin(), out.begin() + static_cast<long>(0.05 * rate));
        const double hz = pitchOf(out, rate);
        EXPECT_NEAR(hz, c.hz, c.hz * 0.03);
    }
}

TEST_F(SynthTest, NoteOffEndsTheNote) {
    for (const uint32_t off : {pack(0x90, 40, 0), pack(0x80, 40, 64)}) {
        SCOPED_TRACE(off);
        OfflineSynth fresh;
        std::string error;
        ASSERT_TRUE(fresh.load(error)) << error;
        fresh.send({bankSelect, pickedBass, pack(0x90, 40, 127)});
        const std::vector<float> held = fresh.render(0.5);
        const double sounding = rms(held, held.size() - 2400, held.size());
        ASSERT_GT(sounding, 0.01);
        fresh.send({off});
        const std::vector<float> after = fresh.render(0.5);
        EXPECT_LT(rms(after, after.size() - 2400, after.size()), sounding * 0.01);
    }
}

TEST(PitchEstimate, FindsTheFundamentalOfRichTones) {
    // A tone whose second harmonic is louder than its fundamental must not read an octave high,
    // nor a plain tone an octave low.
    struct Case {
        double hz;
        double second; // level of the second harmonic
    };
    for (const Case c : {Case{82.41, 0.3}, Case{82.41, 2.0}, Case{41.2, 1.5}, Case{164.8, 0.0}}) {
        std::vector<float> x(static_cast<std::size_t>(0.3 * rate));
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            x[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * c.hz * t) +
                                      0.3 * c.second *
                                          std::sin(4 * std::numbers::pi * c.hz * t + 0.7) +
                                      0.1 * std::sin(6 * std::numbers::pi * c.hz * t));
        }
        EXPECT_NEAR(pitchOf(x, rate), c.hz, c.hz * 0.02) << c.hz << " " << c.second;
    }
}

TEST_F(SynthTest, ChannelMessagesReachTheSynthesiser) {
    fluid_synth_t* s = synth.engine.synth();
    synth.send({pack(0xB0, 7, 90), pack(0xB9, 10, 32), pack(0xB0, 0, 0), pack(0xC0, 34, 0),
                pack(0xE3, 0x00, 0x50)});
    int value = -1;
    fluid_synth_get_cc(s, 0, 7, &value);
    EXPECT_EQ(value, 90);
    fluid_synth_get_cc(s, 9, 10, &value);
    EXPECT_EQ(value, 32);
    int sfont = -1, bank = -1, program = -1;
    fluid_synth_get_program(s, 0, &sfont, &bank, &program);
    EXPECT_EQ(bank, 0);
    EXPECT_EQ(program, 34);
    fluid_synth_get_program(s, 9, &sfont, &bank, &program);
    EXPECT_EQ(bank, 128) << "channel 9 plays the drum kit";
    fluid_synth_get_pitch_bend(s, 3, &value);
    EXPECT_EQ(value, 0x50 << 7);
    // A system reset puts the controllers back.
    synth.send({0xFF});
    fluid_synth_get_cc(s, 0, 7, &value);
    EXPECT_EQ(value, 100);
}

TEST(ShortMessage, SizeAndValidity) {
    struct Case {
        uint32_t message;
        bool valid;
        std::size_t size;
    };
    const Case cases[] = {
        {pack(0x99, 36, 127), true, 3},
        {pack(0x80, 40, 0), true, 3},
        {pack(0xC0, 34, 0), true, 2},
        {0xFFFF22C0u, true, 2}, // data 2 of a program change unused
        {pack(0xD5, 10, 0), true, 2},
        {pack(0xE0, 0, 64), true, 3},
        {0xF8u, true, 1},
        {pack(0xF2, 1, 2), true, 3},
        {0x00u, false, 0},
        {pack(0x40, 1, 1), false, 0}, // no status byte
        {0xF0u, false, 0},
        {0xF7u, false, 0}, // system exclusive
        {pack(0x90, 0x80, 1), false, 0},
        {pack(0x90, 40, 0x80), false, 0},
    };
    for (const Case& c : cases) {
        std::size_t size = 0;
        EXPECT_EQ(shortMessageSize(c.message, size), c.valid) << std::hex << c.message;
        if (c.valid) {
            EXPECT_EQ(size, c.size) << std::hex << c.message;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Soundfont and audio driver choice

TEST(Soundfont, SearchOrder) {
    QTemporaryDir dir;
    const std::string own = dir.filePath("own.sf2").toStdString();
    std::ofstream(own) << "x";
    {
        const EnvGuard env("CLEFWORK_SOUNDFONT", own);
        EXPECT_EQ(FluidEngine::soundfontCandidates().front(), own);
        EXPECT_EQ(FluidEngine::findSoundfont(), own);
    }
    {
        // Never default-GM.sf2: the packages the program depends on, by name.
        const EnvGuard env("CLEFWORK_SOUNDFONT", std::nullopt);
        const std::vector<std::string> expected{"/usr/share/sounds/sf2/FluidR3_GM.sf2",
                                                "/usr/share/sounds/sf2/TimGM6mb.sf2"};
        EXPECT_EQ(FluidEngine::soundfontCandidates(), expected);
    }
    {
        // A missing file is passed over for the next one.
        const EnvGuard env("CLEFWORK_SOUNDFONT", dir.filePath("missing.sf2").toStdString());
        const std::string found = FluidEngine::findSoundfont();
        EXPECT_NE(found, dir.filePath("missing.sf2").toStdString());
        EXPECT_TRUE(found.empty() || found.starts_with("/usr/share/sounds/sf2/"));
    }
}

TEST(AudioDrivers, OrderOfTrial) {
    struct Case {
        const char* forced;
        bool jack;
        std::vector<std::string> order;
        double sampleRate;
    };
    const Case cases[] = {
        {"", false, {"pulseaudio", "alsa", "sdl2"}, 0.0},
        {"", true, {"pulseaudio", "alsa", "jack", "sdl2"}, 0.0},
        {"file", false, {"file"}, 48000.0},
        {"jack", false, {"jack"}, 0.0},
    };
    for (const Case& c : cases) {
        AudioEnvironment env;
        env.forcedDriver = c.forced;
        env.jackServerSeen = c.jack;
        EXPECT_EQ(audioDriverOrder(env), c.order) << c.forced << c.jack;
        EXPECT_EQ(audioSampleRate(env), c.sampleRate) << c.forced;
    }
}

// ---------------------------------------------------------------------------------------------
// Device -1 with a real audio driver (the file driver)

struct Wav {
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples; // first channel
    bool complete = false;      // the data chunk's size matches the file
};

uint32_t le32(const char* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, 4); // the machines this runs on are little-endian, as RIFF is
    return v;
}
uint16_t le16(const char* p) {
    uint16_t v = 0;
    std::memcpy(&v, p, 2);
    return v;
}

std::optional<Wav> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        return std::nullopt;
    }
    Wav wav;
    int format = 0, bits = 0;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const std::string id = bytes.substr(pos, 4);
        const uint32_t size = le32(bytes.data() + pos + 4);
        const char* body = bytes.data() + pos + 8;
        const std::size_t avail = bytes.size() - pos - 8;
        if (id == "fmt " && avail >= 16) {
            format = le16(body);
            wav.channels = le16(body + 2);
            wav.sampleRate = static_cast<int>(le32(body + 4));
            bits = le16(body + 14);
        } else if (id == "data" && wav.channels > 0) {
            wav.complete = size == avail;
            const std::size_t n = std::min<std::size_t>(size, avail);
            const std::size_t frameBytes =
                static_cast<std::size_t>(wav.channels) * static_cast<std::size_t>(bits / 8);
            for (std::size_t off = 0; frameBytes > 0 && off + frameBytes <= n; off += frameBytes) {
                if (format == 1 && bits == 16) {
                    wav.samples.push_back(
                        static_cast<float>(static_cast<int16_t>(le16(body + off)) / 32768.0));
                } else if (format == 3 && bits == 32) {
                    float f = 0;
                    std::memcpy(&f, body + off, 4);
                    wav.samples.push_back(f);
                } else {
                    return std::nullopt;
                }
            }
            return wav;
        }
        pos += 8 + size + (size & 1u);
    }
    return std::nullopt;
}

// A port layer with no sequencer at all.
class NoSequencer : public PortLister {
public:
    bool list(std::vector<std::string>& names) override {
        names.clear();
        return false;
    }
    OpenResult open(const std::string&, std::unique_ptr<PortSink>&, std::string&) override {
        return OpenResult::Failed;
    }
};

class FileDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing_support::namedSoundfont().empty()) {
            GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
        }
        ASSERT_TRUE(dir.isValid());
        wavPath = dir.filePath("out.wav").toStdString();
        driver.emplace("CLEFWORK_AUDIO_DRIVER", "file");
        file.emplace("CLEFWORK_AUDIO_FILE", wavPath);
        soundfont.emplace("CLEFWORK_SOUNDFONT", testing_support::namedSoundfont());
        setChosenSoundfont("");
    }
    QTemporaryDir dir;
    std::string wavPath;
    std::optional<EnvGuard> driver, file, soundfont;
};

TEST_F(FileDeviceTest, WritesTheSoundWhereItWasSent) {
    auto midi = makeSystemMidi(std::make_unique<NoSequencer>());
    HMIDIOUT handle = 0;
    const MMRESULT opened = midi->open(handle, MIDI_MAPPER);
    const auto openedAt = std::chrono::steady_clock::now();
    ASSERT_EQ(opened, MMSYSERR_NOERROR) << midi->errorText(opened);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(midi->shortMsg(handle, bankSelect), MMSYSERR_NOERROR);
    EXPECT_EQ(midi->shortMsg(handle, pickedBass), MMSYSERR_NOERROR);
    // The soundfont is parsed off the caller's thread; the device is the open built-in one.
    ASSERT_NE(builtInSynth(), nullptr);
    ASSERT_TRUE(builtInSynth()->waitForSoundfont(30000));
    EXPECT_EQ(builtInSynth()->soundfontPath(), testing_support::namedSoundfont());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const double sentAfter =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - openedAt).count();
    EXPECT_EQ(midi->shortMsg(handle, pack(0x99, 36, 127)), MMSYSERR_NOERROR);
    EXPECT_EQ(midi->shortMsg(handle, pack(0x90, 40, 127)), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(midi->close(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(builtInSynth(), nullptr) << "a closed synthesiser is still offered for swaps";

    const std::optional<Wav> wav = readWav(wavPath);
    ASSERT_TRUE(wav.has_value()) << "no readable WAV at " << wavPath;
    EXPECT_TRUE(wav->complete) << "the WAV was not finished on close";
    EXPECT_EQ(wav->sampleRate, 48000);
    ASSERT_GT(wav->samples.size(), 0.2 * 48000);
    const long onset = firstSound(wav->samples, 0.01);
    ASSERT_GE(onset, 0) << "the WAV is silent";
    // Silence until the messages were sent, then sound.
    const double onsetSeconds = static_cast<double>(onset) / wav->sampleRate;
    EXPECT_GT(onsetSeconds, sentAfter - 0.05);
    EXPECT_LT(onsetSeconds, sentAfter + 0.25);
    EXPECT_GT(peak(wav->samples), 0.2);
    EXPECT_LT(peak(wav->samples), 1.0);
}

TEST_F(FileDeviceTest, OpensAgainAndAgainWithFreshHandles) {
    auto midi = makeSystemMidi(std::make_unique<NoSequencer>());
    std::vector<HMIDIOUT> handles;
    for (int i = 0; i < 3; ++i) {
        HMIDIOUT handle = 0;
        ASSERT_EQ(midi->open(handle, MIDI_MAPPER), MMSYSERR_NOERROR);
        HMIDIOUT second = 0;
        EXPECT_EQ(midi->open(second, MIDI_MAPPER), MMSYSERR_ALLOCATED) << "opened twice";
        EXPECT_EQ(second, 0u);
        EXPECT_EQ(midi->shortMsg(handle, pack(0x99, 37, 100)), MMSYSERR_NOERROR);
        EXPECT_EQ(midi->shortMsg(handle, 0xF0u), MMSYSERR_INVALPARAM);
        EXPECT_EQ(midi->close(handle), MMSYSERR_NOERROR);
        // The old handle is dead now.
        EXPECT_EQ(midi->close(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midi->shortMsg(handle, pack(0x99, 37, 100)), MIDIERR_NOTOPEN);
        handles.push_back(handle);
    }
    EXPECT_EQ(std::count(handles.begin(), handles.end(), 0u), 0);
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end()) << "handles reused";
    EXPECT_EQ(midi->shortMsg(0, pack(0x99, 37, 100)), MIDIERR_NOTOPEN);
    EXPECT_NE(midi->errorText(MIDIERR_NOTOPEN).find("No MIDI output device is open"),
              std::string::npos);
}

TEST_F(FileDeviceTest, BackendGoingAwayClosesTheOpenDevice) {
    {
        auto midi = makeSystemMidi(std::make_unique<NoSequencer>());
        HMIDIOUT handle = 0;
        ASSERT_EQ(midi->open(handle, MIDI_MAPPER), MMSYSERR_NOERROR);
        midi->shortMsg(handle, pack(0x99, 36, 127));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::optional<Wav> wav = readWav(wavPath);
    ASSERT_TRUE(wav.has_value());
    EXPECT_TRUE(wav->complete) << "the WAV was not finished: the driver was not closed";
}

struct OpenFailure {
    const char* what;
    const char* variable;
    std::string value; // "@" stands for a file that is no soundfont
    MMRESULT code;
    std::vector<std::string> words; // all within the 127 characters shown
};

TEST_F(FileDeviceTest, OpenFailuresSayWhatToDo) {
    const std::string junk = dir.filePath("junk.sf2").toStdString();
    std::ofstream(junk) << "this is no soundfont";
    const OpenFailure cases[] = {
        {"unknown driver",
         "CLEFWORK_AUDIO_DRIVER",
         "nosuchdriver",
         MIDIERR_NOAUDIO,
         {"No audio output", "nosuchdriver", "CLEFWORK_AUDIO_DRIVER=file"}},
        {"broken soundfont",
         "CLEFWORK_SOUNDFONT",
         junk,
         MIDIERR_NOSOUNDFONT,
         {"soundfont", "junk.sf2", "fluid-soundfont-gm"}},
    };
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.what);
        const EnvGuard env(c.variable, c.value);
        auto midi = makeSystemMidi(std::make_unique<NoSequencer>());
        HMIDIOUT handle = 77;
        EXPECT_EQ(midi->open(handle, MIDI_MAPPER), c.code);
        EXPECT_EQ(handle, 0u);
        std::string text = midi->errorText(c.code);
        text.resize(std::min<std::size_t>(text.size(), 127));
        for (const std::string& word : c.words) {
            EXPECT_NE(text.find(word), std::string::npos) << word << " not in: " << text;
        }
        EXPECT_EQ(midi->shortMsg(handle, pack(0x99, 36, 127)), MIDIERR_NOTOPEN);
    }
}

// ---------------------------------------------------------------------------------------------
// Sequencer ports over a scripted port layer

struct ScriptedSequencer {
    bool present = true;
    std::vector<std::string> ports;
    std::string refuseOpen; // the reason, when the sequencer will not connect
    std::vector<std::pair<std::string, std::vector<uint8_t>>> sent;
    int sinksAlive = 0;

    bool has(const std::string& name) const {
        return std::find(ports.begin(), ports.end(), name) != ports.end();
    }
};

class ScriptedSink : public PortSink {
public:
    ScriptedSink(std::shared_ptr<ScriptedSequencer> seq, std::string name)
        : seq_(std::move(seq)), name_(std::move(name)) {
        ++seq_->sinksAlive;
    }
    ~ScriptedSink() override { --seq_->sinksAlive; }
    ScriptedSink(const ScriptedSink&) = delete;
    ScriptedSink& operator=(const ScriptedSink&) = delete;
    Result send(const uint8_t* bytes, std::size_t size, std::string&) override {
        if (!seq_->has(name_)) {
            return Result::Gone;
        }
        seq_->sent.emplace_back(name_, std::vector<uint8_t>(bytes, bytes + size));
        return Result::Ok;
    }

private:
    std::shared_ptr<ScriptedSequencer> seq_;
    std::string name_;
};

class ScriptedLister : public PortLister {
public:
    explicit ScriptedLister(std::shared_ptr<ScriptedSequencer> seq) : seq_(std::move(seq)) {}
    bool list(std::vector<std::string>& names) override {
        names = seq_->present ? seq_->ports : std::vector<std::string>{};
        return seq_->present;
    }
    OpenResult open(const std::string& name, std::unique_ptr<PortSink>& sink,
                    std::string& error) override {
        if (!seq_->refuseOpen.empty()) {
            error = seq_->refuseOpen;
            return OpenResult::Failed;
        }
        if (!seq_->present || !seq_->has(name)) {
            return OpenResult::Gone;
        }
        sink = std::make_unique<ScriptedSink>(seq_, name);
        return OpenResult::Ok;
    }

private:
    std::shared_ptr<ScriptedSequencer> seq_;
};

const std::string longName = "Midi Through:Midi Through Port-0 14:0"; // 37 characters

struct Ports {
    std::shared_ptr<ScriptedSequencer> seq = std::make_shared<ScriptedSequencer>();
    std::unique_ptr<MidiBackend> midi;
    explicit Ports(std::vector<std::string> names, bool present = true) {
        seq->ports = std::move(names);
        seq->present = present;
        midi = makeSystemMidi(std::make_unique<ScriptedLister>(seq));
    }
};

TEST(SequencerPorts, DeviceListWithAndWithoutASequencer) {
    struct Case {
        const char* what;
        bool present;
        std::vector<std::string> ports;
        std::vector<std::pair<std::string, int>> expected; // text and item data
    };
    const std::string synthName = "Clefwork built-in synth";
    const Case cases[] = {
        {"no sequencer", false, {}, {{synthName, -1}}},
        {"sequencer without ports", true, {}, {{synthName, -1}}},
        {"a sequencer with 2 ports",
         true,
         {"USB Bass Synth:Port 1 20:0", longName},
         {{synthName, -1},
          {"USB Bass Synth:Port 1 20:0", 0},
          {"Midi Through:Midi Through Port-", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Ports ports(c.ports, c.present);
        setMidi(ports.midi.get());
        QListWidget list;
        MIDI_OUT::FillDeviceList(&list);
        setMidi(nullptr);
        ASSERT_EQ(list.count(), static_cast<int>(c.expected.size()));
        for (int i = 0; i < list.count(); ++i) {
            EXPECT_EQ(list.item(i)->text().toStdString(), c.expected[i].first);
            EXPECT_LT(list.item(i)->text().size(), 32);
            EXPECT_EQ(list.item(i)->data(Qt::UserRole).toInt(), c.expected[i].second);
        }
        MidiOutCaps caps;
        EXPECT_EQ(ports.midi->getDevCaps(static_cast<int32_t>(c.ports.size()), caps),
                  MMSYSERR_BADDEVICEID);
        EXPECT_EQ(ports.midi->getDevCaps(-2, caps), MMSYSERR_BADDEVICEID);
    }
}

TEST(SequencerPorts, MessagesGoOutWithTheirOwnLength) {
    struct Case {
        uint32_t message;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {pack(0x99, 36, 127), {0x99, 36, 127}},
        {pack(0x99, 37, 0), {0x99, 37, 0}},
        {pack(0xB0, 0, 0), {0xB0, 0, 0}},
        {pack(0xC0, 34, 0), {0xC0, 34}},
        {pack(0xD2, 5, 0), {0xD2, 5}},
        {pack(0xE0, 0, 64), {0xE0, 0, 64}},
        {0xF8u, {0xF8}},
    };
    Ports ports({"A:a 20:0", "B:b 21:0"});
    ASSERT_EQ(ports.midi->numDevs(), 2u);
    HMIDIOUT handle = 0;
    ASSERT_EQ(ports.midi->open(handle, 1), MMSYSERR_NOERROR);
    for (const Case& c : cases) {
        ports.seq->sent.clear();
        EXPECT_EQ(ports.midi->shortMsg(handle, c.message), MMSYSERR_NOERROR);
        ASSERT_EQ(ports.seq->sent.size(), 1u) << std::hex << c.message;
        EXPECT_EQ(ports.seq->sent[0].first, "B:b 21:0");
        EXPECT_EQ(ports.seq->sent[0].second, c.bytes) << std::hex << c.message;
    }
    ports.seq->sent.clear();
    EXPECT_EQ(ports.midi->shortMsg(handle, pack(0x90, 40, 200)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(ports.midi->shortMsg(handle, 0x22u), MMSYSERR_INVALPARAM);
    EXPECT_TRUE(ports.seq->sent.empty());

    // Closing leaves no note hanging: all notes off on each of the 16 channels.
    EXPECT_EQ(ports.midi->close(handle), MMSYSERR_NOERROR);
    ASSERT_EQ(ports.seq->sent.size(), 16u);
    for (std::size_t ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(ports.seq->sent[ch].second,
                  (std::vector<uint8_t>{static_cast<uint8_t>(0xB0 + ch), 123, 0}));
    }
    EXPECT_EQ(ports.seq->sinksAlive, 0);
    EXPECT_EQ(ports.midi->shortMsg(handle, pack(0x99, 36, 1)), MIDIERR_NOTOPEN);
}

TEST(SequencerPorts, APortThatVanishes) {
    Ports ports({"A:a 20:0", longName});
    ASSERT_EQ(ports.midi->numDevs(), 2u);
    HMIDIOUT handle = 0;
    ASSERT_EQ(ports.midi->open(handle, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(ports.midi->shortMsg(handle, pack(0x99, 36, 127)), MMSYSERR_NOERROR);

    ports.seq->ports = {"A:a 20:0"}; // unplugged
    EXPECT_EQ(ports.midi->shortMsg(handle, pack(0x99, 37, 127)), MIDIERR_PORTGONE);
    std::string text = ports.midi->errorText(MIDIERR_PORTGONE);
    text.resize(std::min<std::size_t>(text.size(), 127));
    EXPECT_NE(text.find("Midi Through:Midi Through Port"), std::string::npos) << text;
    EXPECT_NE(text.find("gone away"), std::string::npos) << text;
    // Still open: the close works, and nothing crashes on the missing port.
    EXPECT_EQ(ports.midi->close(handle), MMSYSERR_NOERROR);

    // A port that goes between the listing and the open.
    ports.seq->ports = {"A:a 20:0", "B:b 21:0"};
    ASSERT_EQ(ports.midi->numDevs(), 2u);
    ports.seq->ports = {"A:a 20:0"};
    EXPECT_EQ(ports.midi->open(handle, 1), MIDIERR_PORTGONE);
    EXPECT_EQ(handle, 0u);
    EXPECT_NE(ports.midi->errorText(MIDIERR_PORTGONE).find("B:b 21:0"), std::string::npos);

    // A sequencer that will not connect says why.
    ports.seq->refuseOpen = "permission denied";
    EXPECT_EQ(ports.midi->open(handle, 0), MIDIERR_SEQUENCER);
    EXPECT_NE(ports.midi->errorText(MIDIERR_SEQUENCER).find("permission denied"),
              std::string::npos);
}

TEST(SequencerPorts, HandlesAreDistinctAndStaleOnesFailSafely) {
    Ports ports({"A:a 20:0", "B:b 21:0"});
    ports.midi->numDevs();
    HMIDIOUT a = 0, b = 0, again = 0;
    ASSERT_EQ(ports.midi->open(a, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(ports.midi->open(b, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(ports.midi->open(again, 0), MMSYSERR_ALLOCATED);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(ports.midi->open(again, 2), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(ports.midi->close(a), MMSYSERR_NOERROR);
    ASSERT_EQ(ports.midi->open(again, 0), MMSYSERR_NOERROR);
    EXPECT_NE(again, a) << "a closed handle came back";
    EXPECT_EQ(ports.midi->close(a), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(ports.midi->shortMsg(a, pack(0x99, 36, 1)), MIDIERR_NOTOPEN);
    EXPECT_EQ(ports.midi->close(0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(ports.seq->sinksAlive, 2);
    ports.midi.reset(); // the backend closes what is still open
    EXPECT_EQ(ports.seq->sinksAlive, 0);
}

TEST(SequencerPorts, RealSequencerLayerCopesWithoutASequencer) {
    auto lister = makeAlsaPortLister();
    std::vector<std::string> names{"stale"};
    testing::internal::CaptureStderr();
    const bool present = lister->list(names);
    const std::string printed = testing::internal::GetCapturedStderr();
    if (!present) {
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(printed, "") << "a missing sequencer is not worth a word";
        auto midi = makeSystemMidi(makeAlsaPortLister());
        EXPECT_EQ(midi->numDevs(), 0u);
        HMIDIOUT handle = 0;
        EXPECT_EQ(midi->open(handle, 0), MMSYSERR_BADDEVICEID);
    } else {
        for (const std::string& name : names) {
            EXPECT_FALSE(name.starts_with(std::string(sequencerClientName) + ":")) << name;
        }
    }
}

} // namespace
