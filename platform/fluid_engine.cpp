#include "platform/fluid_engine.h"

#include <chrono>
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

namespace {

struct Globals {
    std::mutex mutex;
    std::string chosen;
    std::function<void(const FluidEngine::LoadReport&)> hook;
    std::function<void()> beforeParse;
};

Globals& globals() {
    // Never destroyed: a loading thread may still report while the program exits.
    static auto* g = new Globals;
    return *g;
}

FluidEngine* openBuiltIn = nullptr;

std::string envSoundfont() {
    const char* env = std::getenv("CLEFWORK_SOUNDFONT");
    return env != nullptr ? std::string(env) : std::string();
}

constexpr int drumChannel = 9; // channel 10 to a musician

const char* const noSoundfontAdvice =
    "install fluid-soundfont-gm or set CLEFWORK_SOUNDFONT to an .sf2 file.";

} // namespace

void setChosenSoundfont(const std::string& path) {
    const std::lock_guard lock(globals().mutex);
    globals().chosen = path;
}

std::string chosenSoundfont() {
    const std::lock_guard lock(globals().mutex);
    return globals().chosen;
}

void setSoundfontHook(std::function<void(const FluidEngine::LoadReport&)> hook) {
    const std::lock_guard lock(globals().mutex);
    globals().hook = std::move(hook);
}

void FluidEngine::setBeforeParseHook(std::function<void()> hook) {
    const std::lock_guard lock(globals().mutex);
    globals().beforeParse = std::move(hook);
}

FluidEngine* builtInSynth() {
    return openBuiltIn;
}

void setBuiltInSynth(FluidEngine* engine) {
    openBuiltIn = engine;
}

std::vector<std::string> FluidEngine::soundfontCandidates() {
    std::vector<std::string> files;
    if (const std::string chosen = chosenSoundfont(); !chosen.empty()) {
        files.push_back(chosen);
    }
    if (const std::string env = envSoundfont(); !env.empty()) {
        files.push_back(env);
    }
    const std::string folder = "/usr/share/sounds/sf2/";
    for (const char* name : {"FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
        files.push_back(folder + name);
    }
    return files;
}

bool FluidEngine::looksLikeSoundfont(const std::string& path) {
    return readable(path) && fluid_is_soundfont(path.c_str()) != 0;
}

std::string FluidEngine::findSoundfont() {
    const std::string chosen = chosenSoundfont();
    for (const std::string& file : soundfontCandidates()) {
        if (file == chosen ? looksLikeSoundfont(file) : readable(file)) {
            return file;
        }
    }
    return {};
}

FluidEngine::~FluidEngine() {
    unload();
}

bool FluidEngine::plan(std::vector<std::string>& files, LoadReport& report) {
    files.clear();
    const std::string chosen = chosenSoundfont();
    if (!chosen.empty()) {
        if (looksLikeSoundfont(chosen)) {
            files.push_back(chosen);
        } else {
            report.refused = chosen;
            report.error = readable(chosen) ? "it is no soundfont" : "the file cannot be read";
        }
    }
    const std::string env = envSoundfont();
    for (const std::string& file : soundfontCandidates()) {
        if (file == chosen && !chosen.empty()) {
            continue;
        }
        if (!readable(file)) {
            continue; // a missing file is passed over for the next one
        }
        if (fluid_is_soundfont(file.c_str()) == 0) {
            if (files.empty()) {
                failure_ = Failure::NoSoundfont;
                report.error = "The file " + file + " is no soundfont: " + noSoundfontAdvice;
                return false;
            }
            break; // the chosen file is tried alone
        }
        files.push_back(file);
        break;
    }
    if (files.empty()) {
        failure_ = Failure::NoSoundfont;
        report.error = std::string("No soundfont found: ") + noSoundfontAdvice;
        if (!env.empty()) {
            report.error += " (" + env + " cannot be read.)";
        }
        return false;
    }
    return true;
}

bool FluidEngine::createSynth(std::string& error, double sampleRate) {
    settings_ = new_fluid_settings();
    parserSettings_ = new_fluid_settings();
    if (settings_ == nullptr || parserSettings_ == nullptr) {
        failure_ = Failure::Synth;
        error = "The built-in synthesiser could not be created: out of memory.";
        unload();
        return false;
    }
    // A setting that FluidSynth rejects (a misspelt name, a value out of range) fails the load:
    // a quiet synthesiser or a long audio period would otherwise go unnoticed.
    std::string rejected;
    auto setInt = [&](fluid_settings_t* settings, const char* name, int value) {
        if (fluid_settings_setint(settings, name, value) != FLUID_OK) {
            rejected = name;
        }
    };
    auto setNum = [&](const char* name, double value) {
        if (fluid_settings_setnum(settings_, name, value) != FLUID_OK) {
            rejected = name;
        }
    };
    setNum("synth.gain", gain);
    // Samples are read when a preset is selected; the parser's settings decide it for the
    // soundfonts it parses.
    setInt(settings_, "synth.dynamic-sample-loading", 1);
    setInt(parserSettings_, "synth.dynamic-sample-loading", 1);
    // Clicks and notes stay dry: no reverb or chorus tail blurs the beat.
    setInt(settings_, "synth.reverb.active", 0);
    setInt(settings_, "synth.chorus.active", 0);
    if (sampleRate > 0.0) {
        setNum("synth.sample-rate", sampleRate);
    }
    setInt(settings_, "audio.period-size", periodSize);
    setInt(settings_, "audio.periods", periods);
    // The parser never renders: the fewest voices it allows.
    setInt(parserSettings_, "synth.polyphony", 1);
    setInt(parserSettings_, "synth.reverb.active", 0);
    setInt(parserSettings_, "synth.chorus.active", 0);
    if (!rejected.empty()) {
        error =
            "The built-in synthesiser could not be created: FluidSynth rejected " + rejected + ".";
        failure_ = Failure::Synth;
        unload();
        return false;
    }

    parser_ = new_fluid_synth(parserSettings_);
    synth_ = parser_ != nullptr ? new_fluid_synth(settings_) : nullptr;
    if (synth_ == nullptr) {
        const std::string why = takeLogError();
        error = "The built-in synthesiser could not be created" +
                (why.empty() ? std::string(".") : ": " + why);
        failure_ = Failure::Synth;
        unload();
        return false;
    }
    // No channel has a preset until it plays one.
    for (int channel = 0; channel < 16; ++channel) {
        fluid_synth_unset_program(synth_, channel);
    }
    return true;
}

bool FluidEngine::attach(const std::string& path, std::string& why) {
    std::function<void()> beforeParse;
    {
        const std::lock_guard lock(globals().mutex);
        beforeParse = globals().beforeParse;
    }
    if (beforeParse) {
        beforeParse();
    }
    takeLogError();
    const int parsedId = fluid_synth_sfload(parser_, path.c_str(), 0);
    fluid_sfont_t* sfont =
        parsedId == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(parser_, parsedId);
    if (sfont == nullptr) {
        why = takeLogError();
        if (why.empty()) {
            why = "FluidSynth could not read it";
        }
        return false;
    }
    // The soundfont moves to the playing synthesiser, which owns it from now on.  Adding it gives
    // every channel that has a program its preset from the new soundfont: only those load.
    fluid_synth_remove_sfont(parser_, sfont);
    const int oldId = soundfontId_;
    const int newId = fluid_synth_add_sfont(synth_, sfont);
    if (newId == FLUID_FAILED) {
        why = "the synthesiser would not take it";
        return false;
    }
    soundfontId_ = newId;
    if (oldId >= 0) {
        // Freed once no voice plays from it any more.
        fluid_synth_sfunload(synth_, oldId, 0);
    }
    // Every beat clicks on the drum kit, and clicks scheduled through FluidSynth's sequencer reach
    // the synthesiser without send(): the kit is ready before the first beat.
    if (fluid_synth_get_channel_preset(synth_, drumChannel) == nullptr) {
        fluid_synth_program_change(synth_, drumChannel, 0);
    }
    {
        const std::lock_guard lock(mutex_);
        soundfont_ = path;
    }
    ready_ = true;
    return true;
}

FluidEngine::LoadReport FluidEngine::attachFirst(const std::vector<std::string>& files,
                                                 LoadReport report) {
    const std::string chosen = chosenSoundfont();
    for (const std::string& file : files) {
        std::string why;
        if (attach(file, why)) {
            report.ok = true;
            report.soundfont = file;
            return report;
        }
        if (file == chosen && files.size() > 1) {
            report.refused = file;
            report.error = why;
            continue;
        }
        report.ok = false;
        report.error = "The soundfont " + file + " could not be loaded: install " +
                       "fluid-soundfont-gm or set CLEFWORK_SOUNDFONT. " + why;
        return report;
    }
    return report;
}

void FluidEngine::startAfresh(std::string& error) {
    unload();
    silenceLog();
    takeLogError();
    failure_ = Failure::None;
    error.clear();
}

bool FluidEngine::load(std::string& error, double sampleRate) {
    startAfresh(error);
    std::vector<std::string> files;
    LoadReport report;
    if (!plan(files, report)) {
        error = report.error;
        return false;
    }
    if (!createSynth(error, sampleRate)) {
        return false;
    }
    report = attachFirst(files, report);
    {
        const std::lock_guard lock(mutex_);
        report_ = report;
    }
    if (!report.ok) {
        error = report.error;
        failure_ = Failure::NoSoundfont;
        const std::string path = files.back();
        unload();
        const std::lock_guard lock(mutex_);
        soundfont_ = path;
        return false;
    }
    return true;
}

bool FluidEngine::loadFile(const std::string& soundfont, std::string& error, double sampleRate) {
    startAfresh(error);
    if (!looksLikeSoundfont(soundfont)) {
        failure_ = Failure::NoSoundfont;
        error = "The file " + soundfont +
                (readable(soundfont) ? " is no soundfont." : " cannot be read.");
        return false;
    }
    if (!createSynth(error, sampleRate)) {
        return false;
    }
    std::string why;
    if (!attach(soundfont, why)) {
        failure_ = Failure::NoSoundfont;
        error = "The soundfont " + soundfont + " could not be loaded: " + why;
        unload();
        return false;
    }
    const std::lock_guard lock(mutex_);
    report_ = LoadReport{true, soundfont, {}, {}};
    return true;
}

bool FluidEngine::loadInBackground(std::string& error, double sampleRate) {
    startAfresh(error);
    std::vector<std::string> files;
    LoadReport report;
    if (!plan(files, report)) {
        error = report.error;
        return false;
    }
    if (!createSynth(error, sampleRate)) {
        return false;
    }
    startJob([this, files, report] {
        const LoadReport done = attachFirst(files, report);
        {
            const std::lock_guard lock(mutex_);
            report_ = done;
        }
        std::function<void(const LoadReport&)> hook;
        {
            const std::lock_guard lock(globals().mutex);
            hook = globals().hook;
        }
        if (hook) {
            hook(done);
        }
    });
    return true;
}

void FluidEngine::swapSoundfont(const std::string& path, Done done) {
    if (synth_ == nullptr) {
        if (done) {
            done(LoadReport{false, {}, "The built-in synthesiser is not running.", path});
        }
        return;
    }
    startJob([this, path, done = std::move(done)] {
        LoadReport report;
        std::string why;
        if (!looksLikeSoundfont(path)) {
            why = readable(path) ? "it is no soundfont" : "the file cannot be read";
        } else if (attach(path, why)) {
            report.ok = true;
        }
        report.soundfont = soundfontPath();
        if (!report.ok) {
            report.refused = path;
            report.error = why;
        }
        {
            const std::lock_guard lock(mutex_);
            report_ = report;
        }
        if (done) {
            done(report);
        }
    });
}

bool FluidEngine::swapSoundfont(const std::string& path, std::string& error) {
    LoadReport result;
    swapSoundfont(path, [&result](const LoadReport& report) { result = report; });
    joinJob();
    error = result.ok ? std::string() : result.error;
    return result.ok;
}

void FluidEngine::startJob(std::function<void()> job) {
    joinJob(); // one parse at a time: the parser is not shared
    const std::lock_guard lock(mutex_);
    jobRunning_ = true;
    job_ = std::thread([this, job = std::move(job)] {
        job();
        const std::lock_guard done(mutex_);
        jobRunning_ = false;
    });
}

void FluidEngine::joinJob() {
    if (job_.joinable()) {
        job_.join();
    }
}

bool FluidEngine::waitForSoundfont(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (!jobRunning_) {
                break;
            }
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    joinJob();
    return true;
}

FluidEngine::LoadReport FluidEngine::lastReport() const {
    const std::lock_guard lock(mutex_);
    return report_;
}

std::string FluidEngine::soundfontPath() const {
    const std::lock_guard lock(mutex_);
    return soundfont_;
}

void FluidEngine::unload() {
    joinJob();
    ready_ = false;
    soundfontId_ = -1;
    if (synth_ != nullptr) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
    if (parser_ != nullptr) {
        delete_fluid_synth(parser_);
        parser_ = nullptr;
    }
    for (fluid_settings_t** settings : {&settings_, &parserSettings_}) {
        if (*settings != nullptr) {
            delete_fluid_settings(*settings);
            *settings = nullptr;
        }
    }
    const std::lock_guard lock(mutex_);
    soundfont_.clear();
    report_ = LoadReport{};
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
            ensurePreset(channel);
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
            silence();
        }
        // Other system messages (clock, song position, active sensing) mean nothing to it.
        break;
    }
    // FluidSynth's own failures (a key out of range, no preset for a program) are no failure
    // of the message: a real synthesiser ignores them too.
    return true;
}

void FluidEngine::ensurePreset(int channel) {
    if (synth_ == nullptr || !ready_ || channel < 0 || channel > 15) {
        return; // without a soundfont yet the note is silent
    }
    if (fluid_synth_get_channel_preset(synth_, channel) == nullptr) {
        int sfont = 0, bank = 0, program = 0;
        fluid_synth_get_program(synth_, channel, &sfont, &bank, &program);
        fluid_synth_program_change(synth_, channel, program > 127 ? 0 : program);
    }
}

void FluidEngine::silence() {
    if (synth_ == nullptr) {
        return;
    }
    // Not fluid_synth_system_reset: it would give every channel program 0 again, and load the
    // samples of a preset that nothing plays.
    fluid_synth_all_sounds_off(synth_, -1);
    for (int channel = 0; channel < 16; ++channel) {
        fluid_synth_cc(synth_, channel, 121, 0); // reset all controllers
        fluid_synth_cc(synth_, channel, 7, 100); // which keep volume, pan and the bank
        fluid_synth_cc(synth_, channel, 10, 64);
        fluid_synth_cc(synth_, channel, 0, 0);
        fluid_synth_cc(synth_, channel, 32, 0);
        if (channel != drumChannel) {
            fluid_synth_unset_program(synth_, channel);
        }
    }
    if (ready_) {
        fluid_synth_program_change(synth_, drumChannel, 0); // the kit stays loaded
    }
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
