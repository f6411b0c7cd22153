// The ALSA sequencer's writable ports, behind a small seam so that tests can script a sequencer.
// The real one goes through RtMidi with the ALSA API named (its JACK path crashes without a JACK
// server) and copes with a machine that has no sequencer at all (no /dev/snd/seq).
#pragma once

#include "layers/platform.h"

#include "platform/midi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One open port.
class PortSink {
public:
    enum class Result { Ok, Gone, Failed };
    virtual ~PortSink() = default;
    // Sends one complete MIDI message of 1 to 3 bytes.  Gone when the port has vanished since it
    // was opened; Failed (with the reason in error) when the sequencer refused the message.
    virtual Result send(const uint8_t* bytes, std::size_t size, std::string& error) = 0;
};

class PortLister {
public:
    enum class OpenResult { Ok, Gone, Failed };
    virtual ~PortLister() = default;
    // The names of the writable ports, in the sequencer's order.  False (and no names) when the
    // sequencer cannot be reached.
    virtual bool list(std::vector<std::string>& names) = 0;
    // Opens the port of that name.  Gone when no port has that name any more; Failed (with the
    // reason in error) when the sequencer would not connect to it.
    virtual OpenResult open(const std::string& name, std::unique_ptr<PortSink>& sink,
                            std::string& error) = 0;
};

// The client name under which the program's own ports appear in the sequencer.
inline constexpr const char* sequencerClientName = "Clefwork";

// The ALSA sequencer through RtMidi.
std::unique_ptr<PortLister> makeAlsaPortLister();

// The system backend over a given port layer (tests pass a scripted one).
std::unique_ptr<MidiBackend> makeSystemMidi(std::unique_ptr<PortLister> ports);

} // namespace platform
