#include "platform/alsa_ports.h"

#include <rtmidi/RtMidi.h>

#include <unistd.h>

namespace platform {

namespace {

// RtMidi reports through this instead of printing to stderr or throwing.
struct ErrorRecord {
    bool failed = false;
    std::string text;
    void clear() {
        failed = false;
        text.clear();
    }
};

void recordError(RtMidiError::Type type, const std::string& text, void* data) {
    auto* record = static_cast<ErrorRecord*>(data);
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        return;
    }
    record->failed = true;
    record->text = text;
}

bool sequencerDevicePresent() {
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

bool isOwnPort(const std::string& name) {
    const std::string prefix = std::string(sequencerClientName) + ":";
    return name.starts_with(prefix);
}

// A new sequencer client, or nullptr where there is no sequencer.  ALSA and RtMidi would print
// their complaints before RtMidi throws, so a missing device node is not even tried.
std::unique_ptr<RtMidiOut> newClient(ErrorRecord& record) {
    if (!sequencerDevicePresent()) {
        return nullptr;
    }
    try {
        auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, sequencerClientName);
        out->setErrorCallback(recordError, &record);
        return out;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

// The writable ports as the client sees them; false when the query failed.
bool portNames(RtMidiOut& out, ErrorRecord& record, std::vector<std::string>& names) {
    names.clear();
    record.clear();
    try {
        const unsigned count = out.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            names.push_back(out.getPortName(i));
        }
    } catch (const RtMidiError&) {
        names.clear();
        return false;
    }
    return !record.failed;
}

class RtMidiSink : public PortSink {
public:
    explicit RtMidiSink(std::string name) : name_(std::move(name)) {}

    PortLister::OpenResult open(std::string& error) {
        out_ = newClient(errors_);
        if (!out_) {
            error = "The ALSA sequencer could not be reached.";
            return PortLister::OpenResult::Failed;
        }
        std::vector<std::string> names;
        if (!portNames(*out_, errors_, names)) {
            error = errors_.text;
            return PortLister::OpenResult::Failed;
        }
        for (unsigned i = 0; i < names.size(); ++i) {
            if (names[i] != name_) {
                continue;
            }
            errors_.clear();
            try {
                out_->openPort(i, "Clefwork output");
            } catch (const RtMidiError& e) {
                errors_.failed = true;
                errors_.text = e.what();
            }
            if (errors_.failed) {
                error = errors_.text;
                return PortLister::OpenResult::Failed;
            }
            return PortLister::OpenResult::Ok;
        }
        return PortLister::OpenResult::Gone;
    }

    Result send(const uint8_t* bytes, std::size_t size, std::string& error) override {
        // A vanished port takes its subscription with it, after which the sequencer drops every
        // event without a word: look for the port before each message.
        std::vector<std::string> names;
        if (!portNames(*out_, errors_, names)) {
            error = errors_.text;
            return Result::Failed;
        }
        bool present = false;
        for (const std::string& name : names) {
            present = present || name == name_;
        }
        if (!present) {
            return Result::Gone;
        }
        errors_.clear();
        try {
            out_->sendMessage(bytes, size);
        } catch (const RtMidiError& e) {
            errors_.failed = true;
            errors_.text = e.what();
        }
        if (errors_.failed) {
            error = errors_.text;
            return Result::Failed;
        }
        return Result::Ok;
    }

private:
    std::string name_;
    ErrorRecord errors_;
    std::unique_ptr<RtMidiOut> out_;
};

class AlsaPortLister : public PortLister {
public:
    bool list(std::vector<std::string>& names) override {
        names.clear();
        if (!query_) {
            query_ = newClient(errors_);
            if (!query_) {
                return false;
            }
        }
        std::vector<std::string> all;
        if (!portNames(*query_, errors_, all)) {
            query_.reset(); // try a fresh client next time
            return false;
        }
        for (std::string& name : all) {
            if (!isOwnPort(name)) {
                names.push_back(std::move(name));
            }
        }
        return true;
    }

    OpenResult open(const std::string& name, std::unique_ptr<PortSink>& sink,
                    std::string& error) override {
        auto port = std::make_unique<RtMidiSink>(name);
        const OpenResult result = port->open(error);
        if (result == OpenResult::Ok) {
            sink = std::move(port);
        }
        return result;
    }

private:
    ErrorRecord errors_;
    std::unique_ptr<RtMidiOut> query_;
};

} // namespace

std::unique_ptr<PortLister> makeAlsaPortLister() {
    return std::make_unique<AlsaPortLister>();
}

} // namespace platform
