// MIDI in: the ALSA sequencer's readable ports behind a small seam (tests script the ports), and
// the input that turns their note-ons into notes with their arrival times.
#pragma once

#include "layers/platform.h"

#include "platform/audio_input.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// An open connection to one port; destroying it disconnects.
class MidiInConnection {
public:
    virtual ~MidiInConnection() = default;
};

class MidiInPorts {
public:
    // One complete message and the monotonic time it arrived; called on the port's own thread.
    using Handler = std::function<void(const uint8_t* bytes, std::size_t size, int64_t nanos)>;

    virtual ~MidiInPorts() = default;
    // The readable ports, in the sequencer's order (the program's own left out).  False when the
    // sequencer cannot be reached.  May be called from any thread.
    virtual bool list(std::vector<std::string>& names) = 0;
    // Connects to the port of that name; handler gets every message until the connection is
    // destroyed.  nullptr with error filled in on failure.
    virtual std::unique_ptr<MidiInConnection> open(const std::string& name, Handler handler,
                                                   InputError& error) = 0;
};

// The ALSA sequencer through RtMidiIn (with the ALSA API named; no sequencer, no ports).
std::unique_ptr<MidiInPorts> makeAlsaMidiInPorts();

// The input over one port of ports.
std::unique_ptr<InputSource> makeMidiInput(std::shared_ptr<MidiInPorts> ports,
                                           const std::string& portName);

// The key and velocity of a note-on (status 9n, velocity above 0); false for anything else.
bool midiNoteOn(const uint8_t* bytes, std::size_t size, int& note, int& velocity);

} // namespace platform
