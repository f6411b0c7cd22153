#include "platform/midi_input.h"

#include "platform/alsa_ports.h"
#include "platform/clock.h"

#include <rtmidi/RtMidi.h>

#include <unistd.h>

#include <mutex>

namespace platform {

bool midiNoteOn(const uint8_t* bytes, std::size_t size, int& note, int& velocity) {
    if (bytes == nullptr || size < 3 || (bytes[0] & 0xF0u) != 0x90u) {
        return false;
    }
    if ((bytes[1] & 0x80u) != 0 || (bytes[2] & 0x80u) != 0 || bytes[2] == 0) {
        return false; // a data byte out of range, or a note-on with velocity 0 (a note-off)
    }
    note = bytes[1];
    velocity = bytes[2];
    return true;
}

namespace {

bool sequencerDevicePresent() {
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

// RtMidi reports through this instead of printing or throwing.
void ignoreError(RtMidiError::Type, const std::string&, void*) {}

std::unique_ptr<RtMidiIn> newInClient() {
    if (!sequencerDevicePresent()) {
        return nullptr;
    }
    try {
        auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, sequencerClientName);
        in->setErrorCallback(ignoreError, nullptr);
        return in;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

bool inPortNames(RtMidiIn& in, std::vector<std::string>& names) {
    names.clear();
    try {
        const unsigned count = in.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            std::string name = in.getPortName(i);
            if (!name.starts_with(std::string(sequencerClientName) + ":")) {
                names.push_back(std::move(name));
            }
        }
    } catch (const RtMidiError&) {
        names.clear();
        return false;
    }
    return true;
}

class RtMidiInConnection : public MidiInConnection {
public:
    RtMidiInConnection(std::unique_ptr<RtMidiIn> in, MidiInPorts::Handler handler)
        : in_(std::move(in)), handler_(std::move(handler)) {}

    ~RtMidiInConnection() override {
        // Closing joins RtMidi's input thread; only then is the callback surely out of use.
        try {
            in_->closePort();
            in_->cancelCallback();
        } catch (const RtMidiError&) {
        }
    }

    bool open(unsigned index, InputError& error) {
        try {
            in_->ignoreTypes(true, true, true);
            in_->setCallback(&RtMidiInConnection::received, this);
            in_->openPort(index, "Clefwork input");
        } catch (const RtMidiError& e) {
            error = {InputFailure::Other,
                     std::string("The ALSA sequencer would not connect: ") + e.what()};
            return false;
        }
        return true;
    }

private:
    static void received(double, std::vector<unsigned char>* message, void* data) {
        const int64_t now = monotonicNanos();
        auto* self = static_cast<RtMidiInConnection*>(data);
        if (message != nullptr && !message->empty()) {
            self->handler_(message->data(), message->size(), now);
        }
    }

    std::unique_ptr<RtMidiIn> in_;
    MidiInPorts::Handler handler_;
};

class AlsaMidiInPorts : public MidiInPorts {
public:
    bool list(std::vector<std::string>& names) override {
        const std::lock_guard lock(mutex_);
        names.clear();
        if (!query_) {
            query_ = newInClient();
            if (!query_) {
                return false;
            }
        }
        if (!inPortNames(*query_, names)) {
            query_.reset();
            return false;
        }
        return true;
    }

    std::unique_ptr<MidiInConnection> open(const std::string& name, Handler handler,
                                           InputError& error) override {
        auto in = newInClient();
        if (!in) {
            error = {InputFailure::NoDevice,
                     "The ALSA sequencer could not be reached: no MIDI input is there."};
            return nullptr;
        }
        std::vector<std::string> all;
        try {
            const unsigned count = in->getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                all.push_back(in->getPortName(i));
            }
        } catch (const RtMidiError&) {
            all.clear();
        }
        for (unsigned i = 0; i < all.size(); ++i) {
            if (all[i] == name) {
                auto connection =
                    std::make_unique<RtMidiInConnection>(std::move(in), std::move(handler));
                return connection->open(i, error) ? std::move(connection) : nullptr;
            }
        }
        error = {InputFailure::Gone, input_text::notFound(name)};
        return nullptr;
    }

private:
    std::mutex mutex_;
    std::unique_ptr<RtMidiIn> query_;
};

class MidiInput : public InputSource {
public:
    MidiInput(std::shared_ptr<MidiInPorts> ports, std::string name)
        : ports_(std::move(ports)), name_(std::move(name)) {}
    ~MidiInput() override { stop(); }

    bool start(InputSink& sink, InputError& error) override {
        stop();
        auto handler = [&sink](const uint8_t* bytes, std::size_t size, int64_t nanos) {
            int note = 0;
            int velocity = 0;
            if (midiNoteOn(bytes, size, note, velocity)) {
                sink.note({nanos, note, velocity});
            }
        };
        connection_ = ports_->open(name_, handler, error);
        return connection_ != nullptr;
    }

    void stop() override { connection_.reset(); }

    bool present() override {
        std::vector<std::string> names;
        if (!ports_->list(names)) {
            return false;
        }
        for (const std::string& name : names) {
            if (name == name_) {
                return true;
            }
        }
        return false;
    }

    std::string name() const override { return name_; }

private:
    std::shared_ptr<MidiInPorts> ports_;
    std::string name_;
    std::unique_ptr<MidiInConnection> connection_;
};

} // namespace

std::unique_ptr<MidiInPorts> makeAlsaMidiInPorts() {
    return std::make_unique<AlsaMidiInPorts>();
}

std::unique_ptr<InputSource> makeMidiInput(std::shared_ptr<MidiInPorts> ports,
                                           const std::string& portName) {
    return std::make_unique<MidiInput>(std::move(ports), portName);
}

} // namespace platform
