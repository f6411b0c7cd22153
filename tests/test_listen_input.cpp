// The listening inputs and the listener: WAV files, MIDI in over scripted ports, every failure
// through the scripted inputs, the file played at real-time pace and the synthesiser's loopback.
#include "bench/render_bass.h"
#include "listen/listener.h"
#include "platform/audio_input.h"
#include "platform/clock.h"
#include "platform/fluid_audio.h"
#include "platform/fluid_engine.h"
#include "platform/midi_input.h"

#include "support/soundfonts.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace platform;
using listen::Listener;
using listen::PlayedNote;

namespace {

constexpr int rate = 48000;
constexpr int64_t ms = 1000000;

// ---------------------------------------------------------------------------------------------
// Helpers

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}

// A WAV file's bytes: the fmt chunk as given, then the data chunk (its size as given, or the
// length of data when dataSize is negative).
std::string wavBytes(int format, int channels, int sampleRate, int bits, const std::string& data,
                     int64_t dataSize = -1, bool extensible = false) {
    std::string fmt;
    putLe(fmt, extensible ? 0xFFFEu : static_cast<uint32_t>(format), 2);
    putLe(fmt, static_cast<uint32_t>(channels), 2);
    putLe(fmt, static_cast<uint32_t>(sampleRate), 4);
    putLe(fmt, static_cast<uint32_t>(sampleRate * channels * bits / 8), 4);
    putLe(fmt, static_cast<uint32_t>(channels * bits / 8), 2);
    putLe(fmt, static_cast<uint32_t>(bits), 2);
    if (extensible) {
        putLe(fmt, 22, 2);
        putLe(fmt, static_cast<uint32_t>(bits), 2);
        putLe(fmt, 0, 4);
        putLe(fmt, static_cast<uint32_t>(format), 2);
        fmt.append(14, '\x01'); // the rest of the sub-format GUID
    }
    std::string out = "RIFF";
    putLe(out, 0, 4); // streamed: no size
    out += "WAVEfmt ";
    putLe(out, static_cast<uint32_t>(fmt.size()), 4);
    out += fmt;
    out += "LIST";
    putLe(out, 3, 4);
    out += "abc";
    out.push_back('\0'); // an odd chunk with its pad byte
    out += "data";
    putLe(out, static_cast<uint32_t>(dataSize < 0 ? static_cast<int64_t>(data.size()) : dataSize),
          4);
    return out + data;
}

std::string pcm16(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        putLe(out, static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(v))), 2);
    }
    return out;
}

std::string pcm24(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        putLe(out, static_cast<uint32_t>(v) & 0xFFFFFFu, 3);
    }
    return out;
}

std::string float32(std::initializer_list<float> values) {
    std::string out;
    for (float v : values) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        putLe(out, bits, 4);
    }
    return out;
}

std::string float64(std::initializer_list<double> values) {
    std::string out;
    for (double v : values) {
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string wav16(const std::vector<float>& mono, int sampleRate) {
    std::string data;
    for (float v : mono) {
        const auto s = static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
        putLe(data, static_cast<uint16_t>(s), 2);
    }
    return wavBytes(1, 1, sampleRate, 16, data);
}

uint32_t pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status) | static_cast<uint32_t>(data1) << 8 |
           static_cast<uint32_t>(data2) << 16;
}

// Two bass notes rendered offline: A2 (45) at 0.25 s and D3 (50) at 0.85 s, 1.4 s in all.
struct Rendered {
    std::vector<float> mono;
    std::vector<std::pair<double, int>> onsets; // seconds, MIDI note
};

std::optional<Rendered> renderBassLine() {
    FluidEngine engine;
    std::string error;
    if (!engine.loadFile(testing_support::namedSoundfont(), error, rate)) {
        return std::nullopt;
    }
    engine.send(pack(0xC0, 33, 0)); // fingered bass
    Rendered out;
    out.onsets = {{0.25, 45}, {0.85, 50}};
    const auto total = static_cast<std::size_t>(1.4 * rate);
    std::vector<float> left(total), right(total);
    std::size_t done = 0;
    std::size_t next = 0;
    int sounding = 0;
    while (done < total) {
        std::size_t until = total;
        if (next < out.onsets.size()) {
            until = static_cast<std::size_t>(out.onsets[next].first * rate);
        }
        if (done == until) {
            if (sounding != 0) {
                engine.send(pack(0x80, sounding, 0));
            }
            sounding = out.onsets[next].second;
            engine.send(pack(0x90, sounding, 110));
            ++next;
            continue;
        }
        const auto n = static_cast<int>(std::min<std::size_t>(64, until - done));
        engine.render(left.data() + done, right.data() + done, n);
        done += static_cast<std::size_t>(n);
    }
    out.mono.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        out.mono[i] = 0.5f * (left[i] + right[i]);
    }
    return out;
}

bool soundfontMissing() {
    return testing_support::namedSoundfont().empty();
}

class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
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

// Counts what an input delivers.
class ListenSink : public InputSink {
public:
    void samples(const float*, std::size_t count, int, int64_t) override { seen_ += count; }
    void note(const MidiNoteIn&) override {}
    void failed(const InputError&) override {}
    void ended() override {}
    std::size_t samplesSeen() const { return seen_; }

private:
    std::atomic<std::size_t> seen_{0};
};

std::vector<PlayedNote> notesOf(const QSignalSpy& spy) {
    std::vector<PlayedNote> notes;
    for (const QList<QVariant>& args : spy) {
        notes.push_back(args.at(0).value<PlayedNote>());
    }
    return notes;
}

// ---------------------------------------------------------------------------------------------
// Pure parts

TEST(OnsetClock, MapsSamplesByTheBlockTheyCameIn) {
    listen::OnsetClock clock;
    EXPECT_EQ(clock.nanosOf(100), 0) << "no block yet";
    // Blocks of 480 samples at 48 kHz (10 ms); the third block came 5 ms late.
    clock.addBlock(0, 1000 * ms, rate);
    clock.addBlock(480, 1010 * ms, rate);
    clock.addBlock(960, 1025 * ms, rate);
    clock.addBlock(1440, 1035 * ms, 44100); // the rate changed
    struct Case {
        int64_t sample;
        int64_t nanos;
    } cases[] = {
        {0, 1000 * ms},          {240, 1005 * ms},
        {480, 1010 * ms},        {959, 1010 * ms + 9979166},
        {960, 1025 * ms},        {1200, 1030 * ms},
        {1440 + 441, 1045 * ms}, {-48, 999 * ms}, // before the first block: from the oldest
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clock.nanosOf(c.sample), c.nanos) << "sample " << c.sample;
    }
    // And back, for a time announced ahead of the audio (a click the program is sending).
    const Case times[] = {
        {0, 1000 * ms},    {240, 1005 * ms},  {720, 1015 * ms},         {960, 1025 * ms},
        {1440, 1035 * ms}, {1881, 1045 * ms}, {1440 + 4410, 1135 * ms}, {-48, 999 * ms},
    };
    for (const Case& c : times) {
        EXPECT_EQ(clock.sampleOf(c.nanos), c.sample) << "nanos " << c.nanos;
    }
    EXPECT_EQ(listen::OnsetClock{}.sampleOf(1000 * ms), -1) << "no block yet";
}

TEST(MidiNoteOn, OnlyNoteOnsWithVelocityCount) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool note;
        int key, velocity;
    } cases[] = {
        {{0x90, 40, 100}, true, 40, 100}, {{0x9F, 28, 1}, true, 28, 1},
        {{0x90, 40, 0}, false, 0, 0},     {{0x80, 40, 64}, false, 0, 0},
        {{0xB0, 7, 100}, false, 0, 0},    {{0x90, 40}, false, 0, 0},
        {{0x90, 0x80, 10}, false, 0, 0},  {{}, false, 0, 0},
    };
    for (const Case& c : cases) {
        int key = 0, velocity = 0;
        EXPECT_EQ(midiNoteOn(c.bytes.data(), c.bytes.size(), key, velocity), c.note)
            << int(c.bytes.empty() ? 0 : c.bytes[0]);
        if (c.note) {
            EXPECT_EQ(key, c.key);
            EXPECT_EQ(velocity, c.velocity);
        }
    }
}

TEST(AudioOpenFailure, SortsTheSystemsReasons) {
    struct Case {
        const char* why;
        InputFailure kind;
        const char* text;
    } cases[] = {
        {"RtApiAlsa::probeDeviceOpen: pcm device (hw:1,0) won't open for input.",
         InputFailure::InUse, "is in use by another program"},
        {"Device or resource busy", InputFailure::InUse, "is in use by another program"},
        {"RtApiAlsa::probeDeviceOpen: error setting sample rate on device (hw:1,0).",
         InputFailure::RateUnsupported, "no sample rate"},
        {"RtApiPulse::probeDeviceOpen: invalid device ID.", InputFailure::Gone, "is not there"},
        {"pa_simple_new failed: Connection refused", InputFailure::Other,
         "could not be opened: pa_simple_new failed"},
    };
    for (const Case& c : cases) {
        const InputError error = audioOpenFailure("USB Bass Box", c.why);
        EXPECT_EQ(error.kind, c.kind) << c.why;
        EXPECT_NE(error.text.find(c.text), std::string::npos) << error.text;
        EXPECT_NE(error.text.find("\"USB Bass Box\""), std::string::npos) << error.text;
    }
}

TEST(WavFiles, ReadsTheFormatsAndMixesToMono) {
    struct Case {
        const char* what;
        std::string bytes;
        int sampleRate;
        std::vector<float> mono;
    } cases[] = {
        {"16-bit mono",
         wavBytes(1, 1, 48000, 16, pcm16({0, 16384, -32768})),
         48000,
         {0.0f, 0.5f, -1.0f}},
        {"16-bit stereo mixed",
         wavBytes(1, 2, 44100, 16, pcm16({16384, 0, -16384, -16384})),
         44100,
         {0.25f, -0.5f}},
        {"24-bit", wavBytes(1, 1, 96000, 24, pcm24({0x400000, -0x200000})), 96000, {0.5f, -0.25f}},
        {"32-bit float stereo",
         wavBytes(3, 2, 48000, 32, float32({0.5f, 0.25f, -1.0f, 1.0f})),
         48000,
         {0.375f, 0.0f}},
        {"extensible float",
         wavBytes(3, 1, 48000, 32, float32({0.125f}), -1, true),
         48000,
         {0.125f}},
        {"data size past the end: what is there",
         wavBytes(1, 1, 48000, 16, pcm16({8192, 8192}), 1000),
         48000,
         {0.25f, 0.25f}},
        {"float channels adding past the float range: full scale, not silence",
         wavBytes(3, 2, 48000, 32, float32({3e38f, 3e38f, -3e38f, -3e38f, 1.5f, 0.5f})),
         48000,
         {1.0f, -1.0f, 1.0f}},
        {"64-bit float past the range, and not a number",
         wavBytes(3, 2, 48000, 64, float64({1e308, 1e308, NAN, 0.5})),
         48000,
         {1.0f, 0.25f}},
        {"half a frame at the end is dropped",
         wavBytes(1, 1, 48000, 16, pcm16({8192}) + "x"),
         48000,
         {0.25f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WavData wav;
        InputError error;
        ASSERT_TRUE(parseWav(c.bytes, "x.wav", wav, error)) << error.text;
        EXPECT_EQ(wav.sampleRate, c.sampleRate);
        ASSERT_EQ(wav.mono.size(), c.mono.size());
        for (std::size_t i = 0; i < c.mono.size(); ++i) {
            EXPECT_NEAR(wav.mono[i], c.mono[i], 1e-4) << i;
        }
    }
}

TEST(WavFiles, BadFilesSayWhatIsWrong) {
    const std::string good = wavBytes(1, 1, 48000, 16, pcm16({1, 2, 3, 4}));
    struct Case {
        const char* what;
        std::optional<std::string> bytes; // nullopt: no file at all
        InputFailure kind;
        const char* text;
    } cases[] = {
        {"missing", std::nullopt, InputFailure::NoSuchFile, "was not found"},
        {"empty", std::string(), InputFailure::NotWav, "is not a WAV file"},
        {"garbage", std::string(500, 'z'), InputFailure::NotWav, "is not a WAV file"},
        {"a text file", std::string("RIFF is a format\n"), InputFailure::NotWav,
         "is not a WAV file"},
        {"truncated header", good.substr(0, 30), InputFailure::NotWav, "is not a WAV file"},
        {"no data chunk", good.substr(0, 48), InputFailure::NotWav, "is not a WAV file"},
        {"no sound", wavBytes(1, 1, 48000, 16, ""), InputFailure::NotWav, "holds no sound"},
        {"ADPCM", wavBytes(2, 1, 48000, 4, "abcd"), InputFailure::NotWav, "cannot read"},
        {"16-bit float", wavBytes(3, 1, 48000, 16, "abcd"), InputFailure::NotWav, "cannot read"},
        {"rate 0", wavBytes(1, 1, 0, 16, pcm16({1})), InputFailure::RateUnsupported, "sample rate"},
        {"rate too high", wavBytes(1, 1, 400000, 16, pcm16({1})), InputFailure::RateUnsupported,
         "sample rate"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.filePath(QString("%1.wav").arg(c.what)).toStdString();
        if (c.bytes) {
            writeFile(path, *c.bytes);
        }
        WavData wav;
        InputError error;
        EXPECT_FALSE(readWavFile(path, wav, error));
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_NE(error.text.find(c.text), std::string::npos) << error.text;
        EXPECT_NE(error.text.find(path), std::string::npos) << error.text;
    }
}

// Whatever the path names, the input says what it is, and a pipe is never waited on.
TEST(WavFiles, APathThatIsNoFileSaysWhatItIs) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.filePath("take.wav").toStdString();
    const std::string fifo = dir.filePath("pipe.wav").toStdString();
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(folder)));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* text;
    } cases[] = {{folder, "is a folder"}, {fifo, "is a pipe"}, {"/dev/zero", "is a device"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WavData wav;
        InputError error;
        EXPECT_FALSE(readWavFile(c.path, wav, error));
        EXPECT_NE(error.text.find(c.text), std::string::npos) << error.text;
        EXPECT_NE(error.text.find(c.path), std::string::npos) << error.text;
        EXPECT_EQ(error.text.find("not found"), std::string::npos) << error.text;
        ListenSink sink;
        InputError startError;
        EXPECT_FALSE(makeFileInput(c.path)->start(sink, startError));
        EXPECT_EQ(startError.text, error.text);
    }
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// A long take is read a block at a time as it plays: its header at the start, then no more of
// it in memory than a block, and the same samples as a whole reading gives.
TEST(FileInput, ALongFileIsReadABlockAtATime) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string small = dir.filePath("small.wav").toStdString();
    const std::string smallBytes =
        wavBytes(1, 2, 48000, 16, pcm16({100, 300, -500, 700, 900, -1100, 1300, 1500, 1700, 1900}));
    writeFile(small, smallBytes);
    WavData whole;
    InputError error;
    ASSERT_TRUE(parseWav(smallBytes, small, whole, error));
    WavFileReader reader;
    ASSERT_TRUE(reader.open(small, error)) << error.text;
    std::vector<float> streamed;
    float block[3];
    for (std::size_t n; (n = reader.read(block, 3)) > 0;) {
        streamed.insert(streamed.end(), block, block + n);
    }
    EXPECT_EQ(streamed, whole.mono);

    // 64 MiB of sound (a sparse file), 32 million frames.
    const std::string large = dir.filePath("large.wav").toStdString();
    constexpr uint32_t dataBytes = 64u << 20;
    writeFile(large, wavBytes(1, 1, 48000, 16, "", dataBytes));
    ASSERT_EQ(
        truncate(large.c_str(), static_cast<off_t>(std::filesystem::file_size(large)) + dataBytes),
        0);
    ASSERT_TRUE(reader.open(large, error)) << error.text;
    EXPECT_EQ(reader.frames(), dataBytes / 2);
    const long before = residentKiB();
    ASSERT_GT(before, 0);
    ListenSink sink;
    auto input = makeFileInput(large);
    ASSERT_TRUE(input->start(sink, error)) << error.text;
    EXPECT_TRUE(QTest::qWaitFor([&] { return sink.samplesSeen() >= 4 * 256; }, 5000));
    const long grown = residentKiB() - before;
    input->stop();
    EXPECT_LT(grown, 16 * 1024) << "KiB more while playing";
}

// ---------------------------------------------------------------------------------------------
// The listener over scripted inputs

ScriptedInputs::Device device(const std::string& id, InputError openError = {},
                              InputError startError = {}) {
    return {{id, id + " label", inputKindOf(id)}, std::move(openError), std::move(startError)};
}

struct ListenerFixture : ::testing::Test {
    ListenerFixture() {
        auto owned = std::make_unique<ScriptedInputs>();
        inputs = owned.get();
        listener = std::make_unique<Listener>(std::move(owned));
    }
    ScriptedInputs* inputs;
    std::unique_ptr<Listener> listener;
};

TEST_F(ListenerFixture, EveryFailureSaysWhyAndTurnsListeningOff) {
    struct Case {
        const char* what;
        std::vector<ScriptedInputs::Device> devices;
        std::function<void(ScriptedInputs&)> midRun; // empty: fails at the start
        const char* text;
        int64_t stallNanos = 0;
    } cases[] = {
        {"no input at all", {}, {}, "No audio input was found."},
        {"in use",
         {device("audio:alsa:Card", {InputFailure::InUse, input_text::inUse("Card")})},
         {},
         "The audio input \"Card\" is in use by another program."},
        {"rate unsupported",
         {device("audio:alsa:Card", {},
                 {InputFailure::RateUnsupported, input_text::rateUnsupported("Card")})},
         {},
         "no sample rate"},
        {"gone mid-run",
         {device("audio:alsa:Card")},
         [](ScriptedInputs& in) {
             in.fail({InputFailure::Gone, input_text::gone("Card")});
         },
         "The input \"Card\" has gone away. Listening is off."},
        {"vanished from the list",
         {device("midi:Bass")},
         [](ScriptedInputs& in) { in.setPresent(false); },
         "The input \"midi:Bass label\" has gone away."},
        {"stopped delivering",
         {device("audio:alsa:Card")},
         [](ScriptedInputs&) {},
         "has gone away",
         100 * ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        inputs->setDevices(c.devices);
        inputs->setPresent(true);
        inputs->setStallNanos(c.stallNanos);
        QSignalSpy failed(listener.get(), &Listener::failed);
        const QString id = c.devices.empty() ? QString("audio:alsa:Card")
                                             : QString::fromStdString(c.devices[0].choice.id);
        const bool started = listener->start(id);
        EXPECT_EQ(started, static_cast<bool>(c.midRun));
        if (c.midRun) {
            EXPECT_TRUE(listener->listening());
            EXPECT_TRUE(inputs->running());
            c.midRun(*inputs);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 3000));
        EXPECT_NE(failed.at(0).at(0).toString().indexOf(c.text), -1)
            << failed.at(0).at(0).toString().toStdString();
        EXPECT_FALSE(listener->listening());
        EXPECT_FALSE(inputs->running()) << "the input was left open";
        QTest::qWait(20);
        EXPECT_EQ(failed.count(), 1) << "one failure, one message";
    }
}

TEST_F(ListenerFixture, StartAndStopAreSafeToRepeatAndNothingFollowsAStop) {
    inputs->setDevices({device("audio:alsa:Card"), device("midi:Bass")});
    QSignalSpy heard(listener.get(), &Listener::noteHeard);
    QSignalSpy failed(listener.get(), &Listener::failed);
    listener->stop();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(listener->start("midi:Bass"));
        ASSERT_TRUE(listener->start("audio:alsa:Card")) << "a second start replaces the first";
        EXPECT_EQ(inputs->runningId(), "audio:alsa:Card");
        EXPECT_EQ(listener->inputId(), "audio:alsa:Card");
    }
    listener->stop();
    listener->stop();
    EXPECT_FALSE(inputs->running());
    EXPECT_FALSE(inputs->pushNote({1, 40, 100})) << "a stopped input still takes notes";
    // A note pushed just before a stop is not reported after it.
    ASSERT_TRUE(listener->start("midi:Bass"));
    ASSERT_TRUE(inputs->pushNote({1, 40, 100}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // posted, not yet delivered
    listener->stop();
    QTest::qWait(30);
    EXPECT_EQ(heard.count(), 0);
    EXPECT_EQ(failed.count(), 0);
}

// MIDI ports as a test sets them: a port's handler is kept to play into it.
class ScriptedMidiPorts : public MidiInPorts {
public:
    struct Connection : MidiInConnection {
        ScriptedMidiPorts* ports;
        ~Connection() override {
            const std::lock_guard lock(ports->mutex);
            ports->handler = nullptr;
        }
    };
    bool list(std::vector<std::string>& out) override {
        const std::lock_guard lock(mutex);
        out = names;
        return true;
    }
    std::unique_ptr<MidiInConnection> open(const std::string& name, Handler h,
                                           InputError& error) override {
        const std::lock_guard lock(mutex);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            error = {InputFailure::Gone, input_text::notFound(name)};
            return nullptr;
        }
        handler = std::move(h);
        auto connection = std::make_unique<Connection>();
        connection->ports = this;
        return connection;
    }
    void play(std::vector<uint8_t> bytes, int64_t nanos) {
        const std::lock_guard lock(mutex);
        if (handler) {
            handler(bytes.data(), bytes.size(), nanos);
        }
    }
    void setNames(std::vector<std::string> list) {
        const std::lock_guard lock(mutex);
        names = std::move(list);
    }

    std::mutex mutex;
    std::vector<std::string> names;
    Handler handler;
};

TEST(MidiInput, NoteOnsBecomeNotesWithTheirTimesAndAVanishedPortStopsListening) {
    auto ownedPorts = std::make_unique<ScriptedMidiPorts>();
    ScriptedMidiPorts* ports = ownedPorts.get();
    ports->setNames({"Bass Pedal:0", "MIDI Bass:0"});
    Listener listener(makeSystemInputs(std::move(ownedPorts)));
    const std::vector<InputChoice> choices = listener.choices();
    const auto has = [&](const std::string& id) {
        return std::any_of(choices.begin(), choices.end(),
                           [&](const InputChoice& c) { return c.id == id; });
    };
    EXPECT_TRUE(has("midi:MIDI Bass:0"));
    EXPECT_TRUE(has("midi:Bass Pedal:0"));
    EXPECT_TRUE(has("loopback"));

    QSignalSpy heard(&listener, &Listener::noteHeard);
    QSignalSpy failed(&listener, &Listener::failed);
    ASSERT_TRUE(listener.start("midi:MIDI Bass:0"));
    const int64_t t = monotonicNanos();
    ports->play({0x90, 40, 127}, t);
    ports->play({0x80, 40, 64}, t + 1 * ms);
    ports->play({0x90, 45, 0}, t + 2 * ms);
    ports->play({0xB0, 7, 100}, t + 3 * ms);
    ports->play({0x93, 28, 64}, t + 4 * ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.count() >= 2; }, 2000));
    QTest::qWait(30);
    const std::vector<PlayedNote> notes = notesOf(heard);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].midi, 40);
    EXPECT_EQ(notes[0].onsetNanos, t);
    EXPECT_NEAR(notes[0].levelDb, 0.0, 1e-9);
    EXPECT_EQ(notes[1].midi, 28);
    EXPECT_EQ(notes[1].onsetNanos, t + 4 * ms);
    EXPECT_NEAR(notes[1].levelDb, 20 * std::log10(64 / 127.0), 1e-9);
    for (const PlayedNote& n : notes) {
        EXPECT_EQ(n.cents, 0.0);
        EXPECT_EQ(n.confidence, 1.0);
    }

    // The port goes from the sequencer: found within the presence check's second.
    ports->setNames({"Bass Pedal:0"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 3000));
    EXPECT_EQ(failed.at(0).at(0).toString().toStdString(), input_text::gone("MIDI Bass:0"));
    EXPECT_FALSE(listener.listening());
    EXPECT_FALSE(ports->handler) << "the connection was left open";

    // A port that is gone at the start.
    failed.clear();
    EXPECT_FALSE(listener.start("midi:MIDI Bass:0"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 2000));
    EXPECT_EQ(failed.at(0).at(0).toString().toStdString(), input_text::notFound("MIDI Bass:0"));
}

// ---------------------------------------------------------------------------------------------
// Detected notes: pushed blocks, the file at real-time pace, the loopback

TEST_F(ListenerFixture, OnsetsOfPushedBlocksLandOnTheBlocksClockWhateverTheirSize) {
    if (soundfontMissing()) {
        GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
    }
    const std::optional<Rendered> line = renderBassLine();
    ASSERT_TRUE(line);
    inputs->setDevices({device("audio:alsa:Card")});
    // A synthesiser period, a capture buffer, an odd size, more than the worker's block; the
    // last time with the metronome's clicks announced on the notes (this input does not hear
    // them: the same notes).
    std::vector<PlayedNote> first;
    int pass = 0;
    for (const std::size_t block : {std::size_t{256}, std::size_t{64}, std::size_t{441},
                                    std::size_t{2000}, std::size_t{256}}) {
        SCOPED_TRACE(block);
        QSignalSpy heard(listener.get(), &Listener::noteHeard);
        QSignalSpy level(listener.get(), &Listener::levelChanged);
        ASSERT_TRUE(listener->start("audio:alsa:Card"));
        // Stamped on a clock far from now, pushed faster than real time with pauses that let
        // the worker keep up.
        const int64_t base = 5000000 * ms;
        if (++pass == 5) {
            for (const auto& onset : line->onsets) {
                listener->ownClick(base + static_cast<int64_t>(onset.first * 1e9));
            }
        }
        for (std::size_t done = 0; done < line->mono.size(); done += block) {
            const std::size_t n = std::min(block, line->mono.size() - done);
            ASSERT_TRUE(inputs->push(line->mono.data() + done, n, rate,
                                     base + static_cast<int64_t>(done) * 1000000000LL / rate));
            if ((done / block) % (8192 / block + 1) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
        }
        const std::vector<float> silence(rate / 2, 0.0f);
        inputs->push(silence.data(), silence.size(), rate, base + 1400 * ms);
        ASSERT_TRUE(QTest::qWaitFor([&] { return heard.count() >= 2; }, 5000));
        QTest::qWait(100);
        listener->stop();
        const std::vector<PlayedNote> notes = notesOf(heard);
        ASSERT_EQ(notes.size(), line->onsets.size());
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].midi, line->onsets[i].second) << i;
            const auto expected = base + static_cast<int64_t>(line->onsets[i].first * 1e9);
            // The detector's own onset error is the benchmark's to measure; this is the mapping.
            EXPECT_NEAR(static_cast<double>(notes[i].onsetNanos - expected) / ms, 0.0, 30.0) << i;
            if (!first.empty()) {
                // The same samples in other blocks: the same onset, to the sample.  With clicks
                // announced that were never heard alone, what is new under a held note is set
                // aside near them, and the onset may come from the plain rise: a hop off at most.
                EXPECT_NEAR(static_cast<double>(notes[i].onsetNanos - first[i].onsetNanos) / ms,
                            0.0, pass == 5 ? 256.0 * 1000.0 / rate + 0.03 : 0.03)
                    << i;
            }
        }
        ASSERT_GT(level.count(), 0);
        if (first.empty()) {
            first = notes;
        }
    }
}

TEST_F(ListenerFixture, TheWorkersCpuTimeIsItsOwn) {
    inputs->setDevices({device("audio:alsa:Card")});
    EXPECT_EQ(listener->workerCpuNanos(), 0) << "not listening";
    ASSERT_TRUE(listener->start("audio:alsa:Card"));
    // This thread spins for 60 ms of its own CPU time while the worker has nothing to do.
    const auto spinUntil = [](int64_t cpuNanos) {
        timespec ts{};
        do {
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        } while (static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec < cpuNanos);
    };
    timespec start{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    spinUntil(static_cast<int64_t>(start.tv_sec) * 1000000000LL + start.tv_nsec + 60 * ms);
    const int64_t idle = listener->workerCpuNanos();
    EXPECT_LT(idle, 30 * ms) << "the figure counts more than the worker";
    // A second of noise: the detector's work shows.
    std::vector<float> noise(rate);
    uint32_t seed = 1;
    for (float& x : noise) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
    }
    ASSERT_TRUE(inputs->push(noise.data(), noise.size(), rate, monotonicNanos()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return listener->workerCpuNanos() > idle; }, 3000));
    listener->stop();
    EXPECT_EQ(listener->workerCpuNanos(), 0) << "not listening";
}

TEST(FileInput, PlaysAtRealTimePaceAndTheNotesKeepTheirTimes) {
    if (soundfontMissing()) {
        GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
    }
    const std::optional<Rendered> line = renderBassLine();
    ASSERT_TRUE(line);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("line.wav").toStdString();
    writeFile(path, wav16(line->mono, rate));
    const EnvGuard env("CLEFWORK_LISTEN_FILE", path);
    ASSERT_EQ(listenFileInputId(), "file:" + path);

    Listener listener;
    const std::vector<InputChoice> choices = listener.choices();
    EXPECT_TRUE(std::any_of(choices.begin(), choices.end(), [&](const InputChoice& c) {
        return c.id == "file:" + path && c.kind == InputKind::File;
    }));
    QSignalSpy heard(&listener, &Listener::noteHeard);
    QSignalSpy ended(&listener, &Listener::inputEnded);
    QSignalSpy failed(&listener, &Listener::failed);
    const int64_t before = monotonicNanos();
    ASSERT_TRUE(listener.start(QString::fromStdString(listenFileInputId())));
    const int64_t after = monotonicNanos();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() > 0; }, 5000));
    const int64_t endedAt = monotonicNanos();
    // 1.4 s of sound and half a second of silence after it, at real-time pace.
    EXPECT_GE(endedAt - before, 1850 * ms);
    EXPECT_LT(endedAt - before, 2600 * ms);
    QTest::qWait(50);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_TRUE(listener.listening()) << "the end of the file is not a failure";
    const std::vector<PlayedNote> notes = notesOf(heard);
    ASSERT_EQ(notes.size(), line->onsets.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].midi, line->onsets[i].second) << i;
        const auto at = static_cast<int64_t>(line->onsets[i].first * 1e9);
        EXPECT_GE(notes[i].onsetNanos, before + at - 30 * ms) << i;
        EXPECT_LE(notes[i].onsetNanos, after + at + 30 * ms) << i;
    }
    listener.stop();
}

// The detector is built for the stream's rate: the low strings' notes are heard from a file at
// 44.1, 48 and 96 kHz alike (a window of the 48 kHz length lost them at 96 kHz).
TEST(FileInput, LowNotesAreHeardAtEveryRate) {
    if (soundfontMissing()) {
        GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
    }
    const int notes[] = {28, 29, 31, 33};
    constexpr double spacing = 0.7;
    constexpr double lead = 0.25;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Run {
        int rate;
        std::string path;
        std::unique_ptr<Listener> listener;
        std::unique_ptr<QSignalSpy> heard, ended;
        int64_t before = 0, after = 0;
    };
    std::vector<Run> runs;
    for (const int r : {44100, 48000, 96000}) {
        bench::BassRenderer renderer;
        std::string error;
        ASSERT_TRUE(renderer.load(error, r, testing_support::namedSoundfont())) << error;
        std::vector<bench::BassRenderer::Event> events = {{0, bench::packMessage(0xC0, 33, 0)}};
        for (std::size_t i = 0; i < std::size(notes); ++i) {
            const auto on = static_cast<int64_t>((lead + spacing * static_cast<double>(i)) * r) /
                            bench::BassRenderer::block * bench::BassRenderer::block;
            events.push_back({on, bench::packMessage(0x90, notes[i], 100)});
            events.push_back({on + static_cast<int64_t>(0.6 * r) / bench::BassRenderer::block *
                                       bench::BassRenderer::block,
                              bench::packMessage(0x80, notes[i], 0)});
        }
        const auto frames = static_cast<int64_t>((lead + spacing * std::size(notes)) * r);
        Run run{r, dir.filePath(QString("low%1.wav").arg(r)).toStdString(), nullptr, nullptr,
                nullptr};
        writeFile(run.path, wav16(renderer.play(events, frames), r));
        runs.push_back(std::move(run));
    }
    // All three at once, at real-time pace.
    for (Run& run : runs) {
        run.listener = std::make_unique<Listener>();
        run.heard = std::make_unique<QSignalSpy>(run.listener.get(), &Listener::noteHeard);
        run.ended = std::make_unique<QSignalSpy>(run.listener.get(), &Listener::inputEnded);
        run.before = monotonicNanos();
        ASSERT_TRUE(run.listener->start(QString::fromStdString("file:" + run.path)));
        run.after = monotonicNanos();
    }
    for (Run& run : runs) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return run.ended->count() > 0; }, 8000)) << run.rate;
    }
    QTest::qWait(50);
    for (Run& run : runs) {
        SCOPED_TRACE(run.rate);
        const std::vector<PlayedNote> heard = notesOf(*run.heard);
        ASSERT_EQ(heard.size(), std::size(notes));
        for (std::size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].midi, notes[i]) << i;
            const auto at = static_cast<int64_t>((lead + spacing * static_cast<double>(i)) * 1e9);
            EXPECT_GE(heard[i].onsetNanos, run.before + at - 30 * ms) << i;
            // A soundfont's low samples take tens of milliseconds to speak after the note-on.
            EXPECT_LE(heard[i].onsetNanos, run.after + at + 70 * ms) << i;
        }
        run.listener->stop();
    }
}

// Sound the input lost reaches the window as one queued signal with the count and the time.
TEST_F(ListenerFixture, AnOverflowIsToldWithHowMuchWasLost) {
    inputs->setDevices({device("audio:alsa:Card")});
    QSignalSpy overflow(listener.get(), &Listener::inputOverflow);
    ASSERT_TRUE(listener->start("audio:alsa:Card"));
    ASSERT_TRUE(inputs->overflow(480, 48000));
    ASSERT_TRUE(inputs->overflow(960, 48000));
    ASSERT_TRUE(inputs->overflow(0, 48000)); // lost, but how much is not known
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !overflow.isEmpty() && overflow.last().at(0).toInt() == 3; }, 2000));
    EXPECT_DOUBLE_EQ(overflow.last().at(1).toDouble(), 30.0);
    const qsizetype told = overflow.count();
    QTest::qWait(200);
    EXPECT_EQ(overflow.count(), told) << "told once, not again while nothing more was lost";
    listener->stop();
}

// Blocks pushed far faster than the detector can take them: what the ring cannot hold is sound
// lost, told with how much, a run of dropped blocks as one loss rather than one a block.
TEST_F(ListenerFixture, BlocksTheWorkerCannotTakeAreSoundLost) {
    inputs->setDevices({device("audio:alsa:Card")});
    QSignalSpy overflow(listener.get(), &Listener::inputOverflow);
    ASSERT_TRUE(listener->start("audio:alsa:Card"));
    std::vector<float> block(512);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 55.0 * i / rate));
    }
    constexpr int pushed = 3000; // 32 s of sound; the ring holds about 5
    const int64_t start = monotonicNanos();
    for (int i = 0; i < pushed; ++i) {
        ASSERT_TRUE(inputs->push(block.data(), block.size(), rate,
                                 start + int64_t{i} * 512 * 1000000000LL / rate));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !overflow.isEmpty(); }, 3000));
    QTest::qWait(100);
    const int times = overflow.last().at(0).toInt();
    const double lostMs = overflow.last().at(1).toDouble();
    EXPECT_GE(times, 1);
    EXPECT_LE(times, pushed * 2 / 512) << "not one a block dropped";
    EXPECT_GT(lostMs, 1000.0);
    EXPECT_LT(lostMs, pushed * 512 * 1000.0 / rate);
    listener->stop();
}

TEST(OverflowText, SaysHowOftenAndHowMuch) {
    const struct {
        int times;
        double lostMs;
        const char* text;
    } cases[] = {{0, 0.0, ""},
                 {1, 0.0, "Input overflow: sound lost 1 time"},
                 {1, 5.3, "Input overflow: sound lost 1 time, about 5 ms"},
                 {12, 1234.6, "Input overflow: sound lost 12 times, about 1235 ms"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Listener::overflowText(c.times, c.lostMs).toStdString(), c.text) << c.times;
    }
}

TEST(Loopback, HearsWhatTheSynthesiserPlaysAndLeavesTheOutputAsItWas) {
    if (soundfontMissing()) {
        GTEST_SKIP() << "No General MIDI soundfont is installed (fluid-soundfont-gm).";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string wavPath = dir.filePath("out.wav").toStdString();
    const EnvGuard driver("CLEFWORK_AUDIO_DRIVER", "file");
    const EnvGuard file("CLEFWORK_AUDIO_FILE", wavPath);
    const AudioEnvironment env = AudioEnvironment::fromProcess();
    FluidEngine engine;
    std::string error;
    ASSERT_TRUE(engine.loadFile(testing_support::namedSoundfont(), error, audioSampleRate(env)))
        << error;
    FluidAudio audio;
    ASSERT_TRUE(audio.start(engine, env, error)) << error;

    Listener listener(makeSystemInputs(std::make_unique<ScriptedMidiPorts>()));
    QSignalSpy heard(&listener, &Listener::noteHeard);
    QSignalSpy level(&listener, &Listener::levelChanged);
    QSignalSpy failed(&listener, &Listener::failed);
    ASSERT_TRUE(listener.start("loopback"));
    EXPECT_TRUE(audio.running()) << "the output stopped when the tap came";
    QTest::qWait(100);
    engine.send(pack(0xC0, 33, 0));
    const int64_t sent = monotonicNanos();
    engine.send(pack(0x90, 40, 120));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.count() > 0; }, 3000));
    const PlayedNote note = notesOf(heard).front();
    EXPECT_EQ(note.midi, 40);
    // Heard where it was rendered: the next audio period after the message.
    EXPECT_NEAR(static_cast<double>(note.onsetNanos - sent) / ms, 5.0, 20.0);
    // The level comes in its own queued reports; on a busy machine the loud one may still be
    // on its way when the note is.
    double loudest = -200.0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QList<QVariant>& args : level) {
                loudest = std::max(loudest, args.at(0).toDouble());
            }
            return loudest > -30.0;
        },
        1000))
        << "loudest " << loudest << " dB";
    listener.stop();
    EXPECT_TRUE(audio.running()) << "the output stopped when the tap went";
    EXPECT_EQ(failed.count(), 0);

    // Without the tap the plain file driver plays on and finishes its WAV.
    engine.send(pack(0x90, 45, 120));
    QTest::qWait(150);
    audio.stop();
    std::ifstream in(wavPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WavData wav;
    InputError wavError;
    ASSERT_TRUE(parseWav(bytes, wavPath, wav, wavError)) << wavError.text;
    EXPECT_EQ(wav.sampleRate, 48000);
    EXPECT_GT(wav.mono.size(), static_cast<std::size_t>(0.1 * rate));
}

TEST(Loopback, ATapWithoutASynthesiserHearsNothingAndFailsNothing) {
    Listener listener(makeSystemInputs(std::make_unique<ScriptedMidiPorts>()));
    QSignalSpy failed(&listener, &Listener::failed);
    QSignalSpy heard(&listener, &Listener::noteHeard);
    ASSERT_TRUE(listener.start("loopback"));
    QTest::qWait(100);
    listener.stop();
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(heard.count(), 0);
}

TEST(SystemInputs, UnknownAndMissingInputsSayWhy) {
    Listener listener(makeSystemInputs(std::make_unique<ScriptedMidiPorts>()));
    QSignalSpy failed(&listener, &Listener::failed);
    struct Case {
        const char* id;
        const char* text;
    } cases[] = {
        {"file:/nonexistent/bass.wav", "The file \"/nonexistent/bass.wav\" was not found."},
        {"audio:nosuchapi:Card", "is not there"},
        {"rubbish", "No audio input was found."},
        {"audio:alsa:No Such Card 12345", ""}, // no card here: no input, or not there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        failed.clear();
        EXPECT_FALSE(listener.start(c.id));
        ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 3000));
        EXPECT_NE(failed.at(0).at(0).toString().indexOf(c.text), -1)
            << failed.at(0).at(0).toString().toStdString();
        EXPECT_FALSE(listener.listening());
    }
}

} // namespace
