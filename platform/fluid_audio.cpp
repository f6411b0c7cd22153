#include "platform/fluid_audio.h"

#include "platform/clock.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

namespace {

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool jackShmPresent() {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev/shm", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().starts_with("jack")) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string withReason(const std::string& message, const std::string& why, std::size_t limit) {
    if (why.empty() || message.size() + 1 >= limit) {
        return message;
    }
    const std::string whole = message + " " + why;
    if (whole.size() <= limit) {
        return whole;
    }
    const std::string more = "...";
    const std::size_t room = limit - message.size() - 1 - more.size();
    std::size_t cut = why.rfind(' ', room);
    if (cut == std::string::npos || cut == 0) {
        return message; // not one whole word of the reason fits
    }
    while (cut > 0 && (why[cut - 1] == ' ' || why[cut - 1] == ',' || why[cut - 1] == ':')) {
        --cut;
    }
    return message + " " + why.substr(0, cut) + more;
}

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// FluidSynth's SDL2 driver wants the program to have started SDL's audio first.  SDL and ALSA
// are loaded with FluidSynth, so their functions are looked up rather than linked.
constexpr uint32_t sdlInitAudio = 0x10;

bool startSdlAudio() {
    using InitFn = int (*)(uint32_t);
    auto init = reinterpret_cast<InitFn>(dlsym(RTLD_DEFAULT, "SDL_InitSubSystem"));
    return init != nullptr && init(sdlInitAudio) == 0;
}

void stopSdlAudio() {
    using QuitFn = void (*)(uint32_t);
    if (auto quit = reinterpret_cast<QuitFn>(dlsym(RTLD_DEFAULT, "SDL_QuitSubSystem"))) {
        quit(sdlInitAudio);
    }
}

// ALSA's library prints its complaints (no card, no such device) to stderr; while a driver is
// tried they are dropped, FluidSynth reports the failure itself.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

void setAlsaQuiet(bool quiet) {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetFn = int (*)(Handler);
    if (auto set = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) {
        set(quiet ? quietAlsa : nullptr);
    }
}

// The tap and the output it copies.  Never destroyed: an output may stop while the program exits.
struct TapRegistry {
    std::mutex mutex;
    SynthTap* tap = nullptr;
    FluidAudio* active = nullptr;
};

TapRegistry& tapRegistry() {
    static auto* registry = new TapRegistry;
    return *registry;
}

void putLe16(std::FILE* file, uint16_t value) {
    const std::array<unsigned char, 2> bytes{static_cast<unsigned char>(value & 0xFFu),
                                             static_cast<unsigned char>(value >> 8)};
    std::fwrite(bytes.data(), 1, bytes.size(), file);
}

void putLe32(std::FILE* file, uint32_t value) {
    putLe16(file, static_cast<uint16_t>(value & 0xFFFFu));
    putLe16(file, static_cast<uint16_t>(value >> 16));
}

// A 16-bit stereo WAV header; the sizes are written again when the file is finished.
void writeWavHeader(std::FILE* file, int rate, uint32_t dataBytes) {
    std::fseek(file, 0, SEEK_SET);
    std::fwrite("RIFF", 1, 4, file);
    putLe32(file, 36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    putLe32(file, 16);
    putLe16(file, 1); // PCM
    putLe16(file, 2);
    putLe32(file, static_cast<uint32_t>(rate));
    putLe32(file, static_cast<uint32_t>(rate) * 4u);
    putLe16(file, 4);
    putLe16(file, 16);
    std::fwrite("data", 1, 4, file);
    putLe32(file, dataBytes);
}

} // namespace

// While tapped, the file driver (which knows no callback) is replaced by this writer: the same
// 16-bit stereo WAV, rendered at real-time pace in audio periods.
struct FluidAudio::TappedFile {
    std::FILE* file = nullptr;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;

    ~TappedFile() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (thread.joinable()) {
            thread.join();
        }
    }

    void run(FluidAudio* audio, int rate) {
        using Clock = std::chrono::steady_clock;
        const int period = FluidEngine::periodSize;
        std::array<float, FluidEngine::periodSize> left{};
        std::array<float, FluidEngine::periodSize> right{};
        std::array<int16_t, 2 * FluidEngine::periodSize> pcm{};
        uint32_t dataBytes = 0;
        const Clock::time_point start = Clock::now();
        for (int64_t frames = 0;; frames += period) {
            audio->engine_->render(left.data(), right.data(), period);
            float* channels[2] = {left.data(), right.data()};
            audio->deliverTap(channels, 2, period);
            for (int i = 0; i < period; ++i) {
                for (int c = 0; c < 2; ++c) {
                    const float v = std::clamp(channels[c][i], -1.0f, 1.0f);
                    pcm[static_cast<std::size_t>(2 * i + c)] =
                        static_cast<int16_t>(std::lround(v * 32767.0f));
                }
            }
            if (std::fwrite(pcm.data(), sizeof(int16_t), pcm.size(), file) == pcm.size()) {
                dataBytes += static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
            }
            const auto due = start + std::chrono::nanoseconds((frames + period) * 1000000000LL /
                                                              static_cast<int64_t>(rate));
            std::unique_lock lock(mutex);
            if (wake.wait_until(lock, due, [this] { return stopping; })) {
                break;
            }
        }
        writeWavHeader(file, rate, dataBytes);
        std::fclose(file);
        file = nullptr;
    }
};

AudioEnvironment AudioEnvironment::fromProcess() {
    AudioEnvironment env;
    env.forcedDriver = envText("CLEFWORK_AUDIO_DRIVER");
    env.wavFile = envText("CLEFWORK_AUDIO_FILE");
    env.jackServerSeen = !envText("JACK_DEFAULT_SERVER").empty() || jackShmPresent();
    return env;
}

std::vector<std::string> audioDriverOrder(const AudioEnvironment& env) {
    if (!env.forcedDriver.empty()) {
        return {env.forcedDriver};
    }
    std::vector<std::string> order{"pulseaudio", "alsa"};
    if (env.jackServerSeen) {
        order.emplace_back("jack");
    }
    order.emplace_back("sdl2");
    return order;
}

double audioSampleRate(const AudioEnvironment& env) {
    return env.forcedDriver == "file" ? FluidEngine::fileSampleRate : 0.0;
}

FluidAudio::FluidAudio() = default;

FluidAudio::~FluidAudio() {
    stop();
}

bool FluidAudio::start(FluidEngine& engine, const AudioEnvironment& env, std::string& error) {
    stop();
    TapRegistry& registry = tapRegistry();
    const std::lock_guard lock(registry.mutex);
    engine_ = &engine;
    env_ = env;
    std::string tapError;
    // An output that cannot be copied still plays.
    if ((registry.tap != nullptr && startDriver(registry.tap, tapError)) ||
        startDriver(nullptr, error)) {
        registry.active = this;
        return true;
    }
    return false;
}

bool FluidAudio::startDriver(SynthTap* tap, std::string& error) {
    error.clear();
    FluidEngine& engine = *engine_;
    const AudioEnvironment& env = env_;
    fluid_settings_t* settings = engine.settings();
    if (!engine.loaded() || settings == nullptr) {
        error = "No audio output: the built-in synthesiser is not loaded.";
        return false;
    }
    const std::vector<std::string> order = audioDriverOrder(env);
    std::string lastWhy;
    for (const std::string& name : order) {
        if (name == "jack") {
            // Never let the JACK client start a server of its own (it may hang doing so); the
            // user's own setting wins.
            setenv("JACK_NO_START_SERVER", "1", 0);
            // Connect to the playback ports, or nothing would be heard.
            fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
        }
        if (name == "file") {
            const std::string file = env.wavFile.empty() ? "clefwork.wav" : env.wavFile;
            fluid_settings_setstr(settings, "audio.file.name", file.c_str());
            fluid_settings_setstr(settings, "audio.file.type", "wav");
        }
        if (fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK) {
            lastWhy = "FluidSynth has no driver " + name + ".";
            continue;
        }
        const bool sdl = name == "sdl2" && startSdlAudio();
        FluidEngine::takeLogError();
        setAlsaQuiet(true);
        tap_ = tap;
        tapRate_ = static_cast<int>(std::lround(engine.sampleRate()));
        framesTapped_ = 0;
        if (tap == nullptr) {
            driver_ = new_fluid_audio_driver(settings, engine.synth());
        } else if (name == "file") {
            startTappedFile(env);
        } else {
            driver_ = new_fluid_audio_driver2(settings, &FluidAudio::renderTapped, this);
        }
        setAlsaQuiet(false);
        if (running()) {
            name_ = name;
            sdlStarted_ = sdl;
            return true;
        }
        if (sdl) {
            stopSdlAudio();
        }
        const std::string why = FluidEngine::takeLogError();
        if (!why.empty()) {
            lastWhy = why;
        }
    }
    tap_ = nullptr;
    error = (tap != nullptr ? "Clefwork's own sound cannot be listened to (tried "
                            : "No audio output started (tried ") +
            joined(order) +
            (tap != nullptr ? ")." : "). CLEFWORK_AUDIO_DRIVER=file writes a WAV instead.");
    error = withReason(error, lastWhy);
    return false;
}

void FluidAudio::stop() {
    TapRegistry& registry = tapRegistry();
    const std::lock_guard lock(registry.mutex);
    if (registry.active == this) {
        registry.active = nullptr;
    }
    stopDriver();
}

void FluidAudio::stopDriver() {
    if (driver_ != nullptr) {
        delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
    }
    tappedFile_.reset();
    tap_ = nullptr;
    if (sdlStarted_) {
        stopSdlAudio();
        sdlStarted_ = false;
    }
    name_.clear();
}

void FluidAudio::startTappedFile(const AudioEnvironment& env) {
    const std::string path = env.wavFile.empty() ? "clefwork.wav" : env.wavFile;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || tapRate_ <= 0) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return;
    }
    writeWavHeader(file, tapRate_, 0);
    tappedFile_ = std::make_unique<TappedFile>();
    tappedFile_->file = file;
    TappedFile* writer = tappedFile_.get();
    tappedFile_->thread = std::thread([this, writer, rate = tapRate_] { writer->run(this, rate); });
}

int FluidAudio::renderTapped(void* data, int len, int nfx, float** fx, int nout, float** out) {
    auto* self = static_cast<FluidAudio*>(data);
    const int result = fluid_synth_process(self->engine_->synth(), len, nfx, fx, nout, out);
    if (result == FLUID_OK) {
        self->deliverTap(out, nout, len);
    }
    return result;
}

void FluidAudio::deliverTap(float** out, int channels, int frames) {
    if (tap_ == nullptr || channels <= 0 || frames <= 0 || tapRate_ <= 0) {
        return;
    }
    // The time of each block is the output's own position, set again from the clock whenever
    // the driver's bursts drift from it by more than a few milliseconds.
    constexpr int64_t driftNanos = 20000000;
    const int64_t now = monotonicNanos();
    int64_t first = tapStartNanos_ + framesTapped_ * 1000000000LL / tapRate_;
    if (framesTapped_ == 0 || std::llabs(now - first) > driftNanos) {
        tapStartNanos_ = now;
        framesTapped_ = 0;
        first = now;
    }
    std::array<float, 256> mono{};
    for (int done = 0; done < frames;) {
        const int n = std::min<int>(static_cast<int>(mono.size()), frames - done);
        for (int i = 0; i < n; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c) {
                sum += out[c][done + i];
            }
            mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(channels);
        }
        tap_->synthRendered(mono.data(), static_cast<std::size_t>(n), tapRate_,
                            first + static_cast<int64_t>(done) * 1000000000LL / tapRate_);
        done += n;
    }
    framesTapped_ += frames;
}

bool setSynthTap(SynthTap* tap, std::string& error) {
    error.clear();
    TapRegistry& registry = tapRegistry();
    const std::lock_guard lock(registry.mutex);
    registry.tap = tap;
    FluidAudio* output = registry.active;
    if (output == nullptr) {
        return true;
    }
    output->stopDriver();
    if (tap != nullptr && output->startDriver(tap, error)) {
        return true;
    }
    std::string plainError;
    if (!output->startDriver(nullptr, plainError)) {
        registry.active = nullptr;
        error += (error.empty() ? "" : " ") + plainError;
        return false;
    }
    return tap == nullptr;
}

} // namespace platform
