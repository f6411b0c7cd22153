#include "platform/fluid_engine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace platform {

namespace {

struct LogBuffer {
    std::mutex mutex;
    std::string lastError;
};

LogBuffer& logBuffer() {
    // Never destroyed: an audio thread may still log while the program exits.
    static auto* buffer = new LogBuffer;
    return *buffer;
}

void logToBuffer(int level, const char* message, void*) {
    if (message == nullptr) {
        return;
    }
    if (level == FLUID_PANIC) {
        std::fprintf(stderr, "fluidsynth: %s\n", message);
    }
    if (level <= FLUID_ERR) {
        LogBuffer& buffer = logBuffer();
        const std::lock_guard lock(buffer.mutex);
        buffer.lastError = message;
    }
}

bool readable(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

} // namespace

void FluidEngine::silenceLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, logToBuffer, nullptr);
        }
    });
}

std::string FluidEngine::takeLogError() {
    LogBuffer& buffer = logBuffer();
    const std::lock_guard lock(buffer.mutex);
    std::string text;
    text.swap(buffer.lastError);
    return text;
}

std::vector<std::string> FluidEngine::soundfontCandidates() {
    std::vector<std::string> files;
    if (const char* env = std::getenv("CLEFWORK_SOUNDFONT"); env != nullptr && *env != '\0') {
        files.emplace_back(env);
    }
    const std::string folder = "/usr/share/sounds/sf2/";
    for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
        files.push_back(folder + name);
    }
    return files;
}

std::string FluidEngine::findSoundfont() {
    for (const std::string& file : soundfontCandidates()) {
        if (readable(file)) {
            return file;
        }
    }
    return {};
}

FluidEngine::~FluidEngine() {
    unload();
}

bool FluidEngine::load(std::string& error, double sampleRate) {
    unload();
    silenceLog();
    takeLogError();
    failure_ = Failure::None;
    error.clear();

    soundfont_ = findSoundfont();
    if (soundfont_.empty()) {
        failure_ = Failure::NoSoundfont;
        error = "No soundfont found: install fluid-soundfont-gm or set CLEFWORK_SOUNDFONT to an "
                ".sf2 file.";
        if (const char* env = std::getenv("CLEFWORK_SOUNDFONT"); env != nullptr && *env != '\0') {
            error += std::string(" (") + env + " cannot be read.)";
        }
        return false;
    }

    if (fluid_is_soundfont(soundfont_.c_str()) == 0) {
        failure_ = Failure::NoSoundfont;
        error = "The file " + soundfont_ +
                " is no soundfont: install fluid-soundfont-gm or set CLEFWORK_SOUNDFONT to an "
                ".sf2 file.";
        return false;
    }

    settings_ = new_fluid_settings();
    if (settings_ == nullptr) {
        failure_ = Failure::Synth;
        error = "The built-in synthesiser could not be created: out of memory.";
        return false;
    }
    // A setting that FluidSynth rejects (a misspelt name, a value out of range) fails the load:
    // a quiet synthesiser or a long audio period would otherwise go unnoticed.
    std::string rejected;
    auto setInt = [&](const char* name, int value) {
        if (fluid_settings_setint(settings_, name, value) != FLUID_OK) {
            rejected = name;
        }
    };
    auto setNum = [&](const char* name, double value) {
        if (fluid_settings_setnum(settings_, name, value) != FLUID_OK) {
            rejected = name;
        }
    };
    setNum("synth.gain", gain);
    setInt("synth.dynamic-sample-loading", 1);
    // Clicks and notes stay dry: no reverb or chorus tail blurs the beat.
    setInt("synth.reverb.active", 0);
    setInt("synth.chorus.active", 0);
    if (sampleRate > 0.0) {
        setNum("synth.sample-rate", sampleRate);
    }
    setInt("audio.period-size", periodSize);
    setInt("audio.periods", periods);
    if (!rejected.empty()) {
        error =
            "The built-in synthesiser could not be created: FluidSynth rejected " + rejected + ".";
        failure_ = Failure::Synth;
        unload();
        return false;
    }

    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        const std::string why = takeLogError();
        error = "The built-in synthesiser could not be created" +
                (why.empty() ? std::string(".") : ": " + why);
        failure_ = Failure::Synth;
        unload();
        return false;
    }
    if (fluid_synth_sfload(synth_, soundfont_.c_str(), 1) == FLUID_FAILED) {
        const std::string why = takeLogError();
        error = "The soundfont " + soundfont_ +
                " could not be loaded: install fluid-soundfont-gm or set CLEFWORK_SOUNDFONT." +
                (why.empty() ? std::string() : " " + why);
        failure_ = Failure::NoSoundfont;
        const std::string path = soundfont_;
        unload();
        soundfont_ = path;
        return false;
    }
    return true;
}

void FluidEngine::unload() {
    if (synth_ != nullptr) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
    if (settings_ != nullptr) {
        delete_fluid_settings(settings_);
        settings_ = nullptr;
    }
    soundfont_.clear();
}

bool shortMessageSize(uint32_t message, std::size_t& size) {
    const uint32_t status = message & 0xFFu;
    if (status < 0x80u) {
        return false;
    }
    if (status < 0xF0u) {
        const uint32_t kind = status & 0xF0u;
        size = (kind == 0xC0u || kind == 0xD0u) ? 2 : 3;
    } else {
        switch (status) {
        case 0xF1u:
        case 0xF3u:
            size = 2;
            break;
        case 0xF2u:
            size = 3;
            break;
        case 0xF6u:
        case 0xF8u:
        case 0xF9u:
        case 0xFAu:
        case 0xFBu:
        case 0xFCu:
        case 0xFDu:
        case 0xFEu:
        case 0xFFu:
            size = 1;
            break;
        default: // system exclusive and the undefined F4, F5
            return false;
        }
    }
    for (std::size_t i = 1; i < size; ++i) {
        if (((message >> (8 * i)) & 0x80u) != 0) {
            return false;
        }
    }
    return true;
}

bool FluidEngine::send(uint32_t message) {
    std::size_t size = 0;
    if (!shortMessageSize(message, size)) {
        return false;
    }
    if (synth_ == nullptr) {
        return false;
    }
    const int status = static_cast<int>(message & 0xFFu);
    const int channel = status & 0x0F;
    const int data1 = static_cast<int>((message >> 8) & 0x7Fu);
    const int data2 = static_cast<int>((message >> 16) & 0x7Fu);
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth_, channel, data1);
        break;
    case 0x90:
        // A note-on with velocity 0 ends the note.
        if (data2 == 0) {
            fluid_synth_noteoff(synth_, channel, data1);
        } else {
            fluid_synth_noteon(synth_, channel, data1, data2);
        }
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth_, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth_, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth_, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth_, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
        break;
    default:
        if (status == 0xFF) {
            fluid_synth_system_reset(synth_);
        }
        // Other system messages (clock, song position, active sensing) mean nothing to it.
        break;
    }
    // FluidSynth's own failures (a key out of range, no preset for a program) are no failure
    // of the message: a real synthesiser ignores them too.
    return true;
}

void FluidEngine::silence() {
    if (synth_ == nullptr) {
        return;
    }
    fluid_synth_all_sounds_off(synth_, -1);
    fluid_synth_system_reset(synth_);
}

void FluidEngine::render(float* left, float* right, int frames) {
    if (synth_ == nullptr || frames <= 0) {
        return;
    }
    fluid_synth_write_float(synth_, frames, left, 0, 1, right, 0, 1);
}

double FluidEngine::sampleRate() const {
    double rate = 0.0;
    if (settings_ != nullptr) {
        fluid_settings_getnum(settings_, "synth.sample-rate", &rate);
    }
    return rate;
}

} // namespace platform
