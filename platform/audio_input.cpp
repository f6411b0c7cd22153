#include "platform/audio_input.h"

#include "platform/audio_input_parts.h"
#include "platform/fluid_audio.h"
#include "platform/midi_input.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Texts

namespace input_text {
std::string inUse(const std::string& name) {
    return "The audio input \"" + name + "\" is in use by another program.";
}
std::string gone(const std::string& name) {
    return "The input \"" + name + "\" has gone away. Listening is off.";
}
std::string notFound(const std::string& name) {
    return "The input \"" + name + "\" is not there. Choose another input.";
}
std::string rateUnsupported(const std::string& name) {
    return "The audio input \"" + name + "\" offers no sample rate that Clefwork can listen at.";
}
std::string noInput() {
    return "No audio input was found.";
}
std::string fileMissing(const std::string& path) {
    return "The file \"" + path + "\" was not found.";
}
std::string notWav(const std::string& path) {
    return "\"" + path + "\" is not a WAV file.";
}
} // namespace input_text

namespace input_parts {

bool hasPrefix(const std::string& id, const char* prefix) {
    return id.rfind(prefix, 0) == 0;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace input_parts

using input_parts::audioChoices;
using input_parts::hasPrefix;
using input_parts::loopbackId;
using input_parts::loopbackName;
using input_parts::lowered;
using input_parts::openAudioDevice;

std::string listenFileInputId() {
    const char* path = std::getenv("CLEFWORK_LISTEN_FILE");
    return path == nullptr || *path == '\0' ? std::string() : std::string("file:") + path;
}

InputKind inputKindOf(const std::string& id) {
    if (hasPrefix(id, "midi:")) {
        return InputKind::Midi;
    }
    if (hasPrefix(id, "file:")) {
        return InputKind::File;
    }
    if (id == loopbackId) {
        return InputKind::Loopback;
    }
    return InputKind::Audio;
}

int clampChannel(int channel, int channels) {
    return std::clamp(channel, 0, std::max(channels, 1) - 1);
}

InputError audioOpenFailure(const std::string& name, const std::string& why) {
    const std::string text = lowered(why);
    // ALSA's "won't open" follows a listing, so the device is there but held by another program.
    if (text.find("busy") != std::string::npos || text.find("in use") != std::string::npos ||
        text.find("won't open") != std::string::npos) {
        return {InputFailure::InUse, input_text::inUse(name)};
    }
    if (text.find("sample rate") != std::string::npos ||
        text.find("samplerate") != std::string::npos) {
        return {InputFailure::RateUnsupported, input_text::rateUnsupported(name)};
    }
    if (text.find("no such") != std::string::npos || text.find("not found") != std::string::npos ||
        text.find("invalid device") != std::string::npos) {
        return {InputFailure::Gone, input_text::notFound(name)};
    }
    return {InputFailure::Other, "The audio input \"" + name + "\" could not be opened: " + why};
}

namespace {

// ---------------------------------------------------------------------------------------------
// The loopback of the built-in synthesiser

class LoopbackInput : public InputSource, private SynthTap {
public:
    ~LoopbackInput() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        stop();
        sink_ = &sink;
        std::string why;
        if (!setSynthTap(this, why)) {
            std::string ignored;
            setSynthTap(nullptr, ignored);
            sink_ = nullptr;
            error = {InputFailure::Other, why};
            return false;
        }
        tapped_ = true;
        return true;
    }

    void stop() override {
        if (tapped_) {
            std::string ignored;
            setSynthTap(nullptr, ignored);
            tapped_ = false;
        }
    }

    std::string name() const override { return loopbackName; }

private:
    void synthRendered(const float* mono, std::size_t frames, int sampleRate,
                       int64_t firstSampleNanos) override {
        sink_->samples(mono, frames, sampleRate, firstSampleNanos);
    }

    InputSink* sink_ = nullptr;
    bool tapped_ = false;
};

// ---------------------------------------------------------------------------------------------
// The system backend

class SystemInputs : public InputBackend {
public:
    explicit SystemInputs(std::shared_ptr<MidiInPorts> midi) : midi_(std::move(midi)) {}

    std::vector<InputChoice> choices() override {
        std::vector<InputChoice> list = audioChoices();
        std::vector<std::string> ports;
        if (midi_->list(ports)) {
            for (const std::string& port : ports) {
                list.push_back({"midi:" + port, port + " (MIDI)", InputKind::Midi});
            }
        }
        list.push_back(
            {loopbackId, std::string(loopbackName) + " (loopback)", InputKind::Loopback});
        if (const std::string file = listenFileInputId(); !file.empty()) {
            list.push_back({file, "File " + file.substr(5), InputKind::File});
        }
        return list;
    }

    std::unique_ptr<InputSource> open(const std::string& id, InputError& error) override {
        switch (inputKindOf(id)) {
        case InputKind::Midi:
            return makeMidiInput(midi_, id.substr(5));
        case InputKind::File:
            return makeFileInput(id.substr(5));
        case InputKind::Loopback:
            return std::make_unique<LoopbackInput>();
        case InputKind::Audio:
            break;
        }
        return openAudioDevice(id, error);
    }

private:
    std::shared_ptr<MidiInPorts> midi_;
};

} // namespace

std::unique_ptr<InputBackend> makeSystemInputs(std::unique_ptr<MidiInPorts> midiPorts) {
    return std::make_unique<SystemInputs>(std::shared_ptr<MidiInPorts>(std::move(midiPorts)));
}

std::unique_ptr<InputBackend> makeSystemInputs() {
    return makeSystemInputs(makeAlsaMidiInPorts());
}

// ---------------------------------------------------------------------------------------------
// Scripted inputs

struct ScriptedInputs::State {
    mutable std::mutex mutex;
    std::vector<Device> devices;
    InputSink* sink = nullptr;
    std::string runningId;
    int runningChannel = 0;
    std::atomic<bool> present{true};
    std::atomic<int64_t> stallNanos{0};
};

namespace {

class ScriptedSource : public InputSource {
public:
    ScriptedSource(std::shared_ptr<ScriptedInputs::State> state, ScriptedInputs::Device device)
        : state_(std::move(state)), device_(std::move(device)) {}
    ~ScriptedSource() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        if (device_.startError.kind != InputFailure::None) {
            error = device_.startError;
            return false;
        }
        const std::lock_guard lock(state_->mutex);
        state_->sink = &sink;
        state_->runningId = device_.choice.id;
        state_->runningChannel = channel_;
        sink_ = &sink;
        return true;
    }

    void stop() override {
        const std::lock_guard lock(state_->mutex);
        if (sink_ != nullptr && state_->sink == sink_) {
            state_->sink = nullptr;
            state_->runningId.clear();
        }
        sink_ = nullptr;
    }

    void setChannel(int channel) override { channel_ = channel; }
    bool present() override { return state_->present; }
    int64_t stallNanos() const override { return state_->stallNanos; }
    std::string name() const override { return device_.choice.label; }

private:
    std::shared_ptr<ScriptedInputs::State> state_;
    ScriptedInputs::Device device_;
    InputSink* sink_ = nullptr;
    int channel_ = 0;
};

} // namespace

ScriptedInputs::ScriptedInputs() : state_(std::make_shared<State>()) {}
ScriptedInputs::~ScriptedInputs() = default;

void ScriptedInputs::setDevices(std::vector<Device> devices) {
    const std::lock_guard lock(state_->mutex);
    state_->devices = std::move(devices);
}

std::vector<InputChoice> ScriptedInputs::choices() {
    const std::lock_guard lock(state_->mutex);
    std::vector<InputChoice> list;
    for (const Device& device : state_->devices) {
        list.push_back(device.choice);
    }
    return list;
}

std::unique_ptr<InputSource> ScriptedInputs::open(const std::string& id, InputError& error) {
    const std::lock_guard lock(state_->mutex);
    if (state_->devices.empty()) {
        error = {InputFailure::NoDevice, input_text::noInput()};
        return nullptr;
    }
    for (const Device& device : state_->devices) {
        if (device.choice.id != id) {
            continue;
        }
        if (device.openError.kind != InputFailure::None) {
            error = device.openError;
            return nullptr;
        }
        return std::make_unique<ScriptedSource>(state_, device);
    }
    error = {InputFailure::Gone, input_text::notFound(id)};
    return nullptr;
}

bool ScriptedInputs::push(const float* mono, std::size_t count, int sampleRate,
                          int64_t firstSampleNanos) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->samples(mono, count, sampleRate, firstSampleNanos);
    return true;
}

bool ScriptedInputs::pushNote(const MidiNoteIn& note) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->note(note);
    return true;
}

bool ScriptedInputs::fail(const InputError& error) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->failed(error);
    return true;
}

bool ScriptedInputs::end() {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->ended();
    return true;
}

void ScriptedInputs::setPresent(bool present) {
    state_->present = present;
}

void ScriptedInputs::setStallNanos(int64_t nanos) {
    state_->stallNanos = nanos;
}

bool ScriptedInputs::running() const {
    const std::lock_guard lock(state_->mutex);
    return state_->sink != nullptr;
}

std::string ScriptedInputs::runningId() const {
    const std::lock_guard lock(state_->mutex);
    return state_->runningId;
}

int ScriptedInputs::runningChannel() const {
    const std::lock_guard lock(state_->mutex);
    return state_->runningChannel;
}

bool ScriptedInputs::overflow(int64_t lostFrames, int sampleRate) {
    const std::lock_guard lock(state_->mutex);
    if (state_->sink == nullptr) {
        return false;
    }
    state_->sink->overflowed(lostFrames, sampleRate);
    return true;
}

} // namespace platform
