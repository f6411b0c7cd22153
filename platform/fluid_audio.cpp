#include "platform/fluid_audio.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

} // namespace

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

FluidAudio::~FluidAudio() {
    stop();
}

bool FluidAudio::start(FluidEngine& engine, const AudioEnvironment& env, std::string& error) {
    stop();
    error.clear();
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
        driver_ = new_fluid_audio_driver(settings, engine.synth());
        setAlsaQuiet(false);
        if (driver_ != nullptr) {
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
    error = "No audio output started (tried " + joined(order) +
            "). CLEFWORK_AUDIO_DRIVER=file writes a WAV instead.";
    if (!lastWhy.empty()) {
        error += " " + lastWhy;
    }
    return false;
}

void FluidAudio::stop() {
    if (driver_ != nullptr) {
        delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
    }
    if (sdlStarted_) {
        stopSdlAudio();
        sdlStarted_ = false;
    }
    name_.clear();
}

} // namespace platform
