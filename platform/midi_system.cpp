// The real MIDI devices: -1 the built-in FluidSynth synthesiser with an audio driver, 0..n-1 the
// writable ports of the ALSA sequencer.
#include "platform/alsa_ports.h"
#include "platform/clock.h"
#include "platform/fluid_audio.h"
#include "platform/fluid_engine.h"
#include "platform/fluid_schedule.h"
#include "platform/midi.h"

#include <array>
#include <map>

namespace platform {

namespace {

constexpr const char* builtInSynthName = "Clefwork built-in synth";
static_assert(std::char_traits<char>::length(builtInSynthName) < MAXPNAMELEN);

std::string shortName(const std::string& name) {
    return name.substr(0, MAXPNAMELEN - 1);
}

class SystemMidi : public MidiBackend {
public:
    explicit SystemMidi(std::unique_ptr<PortLister> ports) : ports_(std::move(ports)) {}

    ~SystemMidi() override {
        while (!open_.empty()) {
            close(open_.begin()->first);
        }
    }

    SystemMidi(const SystemMidi&) = delete;
    SystemMidi& operator=(const SystemMidi&) = delete;

    uint32_t numDevs() override {
        refreshPorts();
        return static_cast<uint32_t>(portNames_.size());
    }

    MMRESULT getDevCaps(int32_t deviceId, MidiOutCaps& caps) override {
        if (deviceId == MIDI_MAPPER) {
            caps.productName = builtInSynthName;
            return MMSYSERR_NOERROR;
        }
        const std::string* name = portName(deviceId);
        if (name == nullptr) {
            return MMSYSERR_BADDEVICEID;
        }
        caps.productName = shortName(*name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT open(HMIDIOUT& handle, int32_t deviceId) override {
        handle = 0;
        Device device;
        device.id = deviceId;
        const MMRESULT result =
            deviceId == MIDI_MAPPER ? openSynth(device) : openPort(device, deviceId);
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        handle = nextHandle_++;
        open_.emplace(handle, std::move(device));
        return MMSYSERR_NOERROR;
    }

    MMRESULT close(HMIDIOUT handle) override {
        const auto it = open_.find(handle);
        if (it == open_.end()) {
            return MMSYSERR_INVALHANDLE;
        }
        Device& device = it->second;
        if (device.engine) {
            if (builtInSynth() == device.engine.get()) {
                setBuiltInSynth(nullptr);
            }
            // Silence first, then stop the audio thread, then free the synthesiser.
            device.engine->silence();
            device.audio->stop();
            device.scheduler.reset();
            device.engine->unload();
        } else if (device.sink) {
            // Leave nothing hanging on an outside synthesiser: all notes off on every channel.
            std::string ignored;
            for (uint8_t channel = 0; channel < 16; ++channel) {
                const std::array<uint8_t, 3> allNotesOff{static_cast<uint8_t>(0xB0 | channel), 123,
                                                         0};
                if (device.sink->send(allNotesOff.data(), allNotesOff.size(), ignored) !=
                    PortSink::Result::Ok) {
                    break;
                }
            }
        }
        open_.erase(it);
        return MMSYSERR_NOERROR;
    }

    MMRESULT shortMsg(HMIDIOUT handle, uint32_t message) override {
        const auto it = open_.find(handle);
        if (it == open_.end()) {
            return MIDIERR_NOTOPEN;
        }
        std::size_t size = 0;
        if (!shortMessageSize(message, size)) {
            return MMSYSERR_INVALPARAM;
        }
        Device& device = it->second;
        if (device.engine) {
            return device.engine->send(message) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
        }
        const std::array<uint8_t, 3> bytes{static_cast<uint8_t>(message & 0xFFu),
                                           static_cast<uint8_t>((message >> 8) & 0xFFu),
                                           static_cast<uint8_t>((message >> 16) & 0xFFu)};
        std::string why;
        switch (device.sink->send(bytes.data(), size, why)) {
        case PortSink::Result::Ok:
            return MMSYSERR_NOERROR;
        case PortSink::Result::Gone:
            details_[MIDIERR_PORTGONE] = portGoneText(device.portName);
            return MIDIERR_PORTGONE;
        case PortSink::Result::Failed:
            details_[MMSYSERR_ERROR] =
                "The MIDI port \"" + shortName(device.portName) + "\" refused the message: " + why;
            return MMSYSERR_ERROR;
        }
        return MMSYSERR_ERROR;
    }

    bool schedules(HMIDIOUT handle) override { return scheduler(handle) != nullptr; }

    int64_t clockNanos(HMIDIOUT handle) override {
        FluidScheduler* s = scheduler(handle);
        return s != nullptr ? s->nowNanos() : monotonicNanos();
    }

    MMRESULT shortMsgAt(HMIDIOUT handle, uint32_t message, int64_t atNanos) override {
        FluidScheduler* s = scheduler(handle);
        const uint32_t kind = message & 0xF0u;
        // Only notes are scheduled; a program or controller change takes effect at once, as it
        // does through the engine, which keeps the channels' presets.
        if (s == nullptr || (kind != 0x80u && kind != 0x90u)) {
            return shortMsg(handle, message);
        }
        // A note that reaches the synthesiser through its sequencer needs its channel's preset
        // (and so its samples) loaded first.
        open_.at(handle).engine->ensurePreset(static_cast<int>(message & 0x0Fu));
        return s->sendAt(message, atNanos) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    }

    void cancelScheduled(HMIDIOUT handle) override {
        if (FluidScheduler* s = scheduler(handle)) {
            s->cancel();
        }
    }

    int64_t toMonotonic(HMIDIOUT handle, int64_t t) override {
        FluidScheduler* s = scheduler(handle);
        return s != nullptr ? monotonicNanos() + (t - s->nowNanos()) : t;
    }

    std::string errorText(MMRESULT code) override {
        const auto it = details_.find(code);
        return it != details_.end() ? it->second : standardMidiErrorText(code);
    }

private:
    struct Device {
        int32_t id = -2;
        // The built-in synthesiser; the audio driver, declared after it, is destroyed first.
        std::unique_ptr<FluidEngine> engine;
        // Its sequencer, destroyed after the audio driver has stopped and before the synthesiser.
        std::unique_ptr<FluidScheduler> scheduler;
        std::unique_ptr<FluidAudio> audio;
        // A sequencer port.
        std::string portName;
        std::unique_ptr<PortSink> sink;
    };

    FluidScheduler* scheduler(HMIDIOUT handle) {
        const auto it = open_.find(handle);
        if (it == open_.end() || !it->second.scheduler || !it->second.scheduler->ok()) {
            return nullptr;
        }
        return it->second.scheduler.get();
    }

    static std::string portGoneText(const std::string& name) {
        return "The MIDI port \"" + shortName(name) +
               "\" has gone away. Choose another device from the Midi Device list.";
    }

    void refreshPorts() {
        std::vector<std::string> names;
        if (!ports_ || !ports_->list(names)) {
            names.clear(); // no sequencer: the built-in synthesiser alone
        }
        portNames_ = std::move(names);
        listed_ = true;
    }

    const std::string* portName(int32_t deviceId) {
        if (!listed_) {
            refreshPorts();
        }
        if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= portNames_.size()) {
            return nullptr;
        }
        return &portNames_[static_cast<std::size_t>(deviceId)];
    }

    bool isOpen(int32_t deviceId, const std::string& name) const {
        for (const auto& [handle, device] : open_) {
            if (device.id == deviceId && (deviceId == MIDI_MAPPER || device.portName == name)) {
                return true;
            }
        }
        return false;
    }

    MMRESULT openSynth(Device& device) {
        if (isOpen(MIDI_MAPPER, {})) {
            return MMSYSERR_ALLOCATED;
        }
        const AudioEnvironment env = AudioEnvironment::fromProcess();
        device.engine = std::make_unique<FluidEngine>();
        std::string error;
        // The soundfont is parsed on a thread of its own: a large one never holds up the window.
        if (!device.engine->loadInBackground(error, audioSampleRate(env))) {
            const MMRESULT code = device.engine->failure() == FluidEngine::Failure::NoSoundfont
                                      ? MIDIERR_NOSOUNDFONT
                                      : MIDIERR_SYNTH;
            details_[code] = error;
            return code;
        }
        // Made before the audio starts, so that its clock counts every sample played.
        device.scheduler = std::make_unique<FluidScheduler>(device.engine->synth());
        device.audio = std::make_unique<FluidAudio>();
        if (!device.audio->start(*device.engine, env, error)) {
            details_[MIDIERR_NOAUDIO] = error;
            return MIDIERR_NOAUDIO;
        }
        setBuiltInSynth(device.engine.get());
        return MMSYSERR_NOERROR;
    }

    MMRESULT openPort(Device& device, int32_t deviceId) {
        const std::string* name = portName(deviceId);
        if (name == nullptr) {
            return MMSYSERR_BADDEVICEID;
        }
        if (isOpen(deviceId, *name)) {
            return MMSYSERR_ALLOCATED;
        }
        device.portName = *name;
        std::string why;
        switch (ports_->open(*name, device.sink, why)) {
        case PortLister::OpenResult::Ok:
            return device.sink ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
        case PortLister::OpenResult::Gone:
            details_[MIDIERR_PORTGONE] = portGoneText(*name);
            return MIDIERR_PORTGONE;
        case PortLister::OpenResult::Failed:
            details_[MIDIERR_SEQUENCER] =
                "The ALSA sequencer would not open \"" + shortName(*name) + "\": " + why;
            return MIDIERR_SEQUENCER;
        }
        return MMSYSERR_ERROR;
    }

    std::unique_ptr<PortLister> ports_;
    std::vector<std::string> portNames_;
    bool listed_ = false;
    std::map<HMIDIOUT, Device> open_;
    std::map<MMRESULT, std::string> details_;
    HMIDIOUT nextHandle_ = 0x10;
};

} // namespace

std::unique_ptr<MidiBackend> makeSystemMidi(std::unique_ptr<PortLister> ports) {
    return std::make_unique<SystemMidi>(std::move(ports));
}

std::unique_ptr<MidiBackend> makeSystemMidi() {
    return makeSystemMidi(makeAlsaPortLister());
}

} // namespace platform
