// The MIDI output devices as the program sees them: a numbered list with product names, a
// default device (-1) that stands for the built-in synthesiser, open by identifier, close, send a
// packed short message and a text for every result code.  The real implementation lives in
// midi_system.cpp; tests install a MidiCapture instead.
#pragma once

#include "layers/platform.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using MMRESULT = uint32_t;
using HMIDIOUT = uintptr_t;

// Result codes.  0 is success; the numbers below 64 follow the classic multimedia codes, the
// ones from 64 on are this platform's own.
enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    MIDIERR_NOSOUNDFONT = 64, // the built-in synthesiser found no soundfont
    MIDIERR_NOAUDIO = 65,     // no audio output could be started
    MIDIERR_PORTGONE = 66,    // the sequencer port has vanished
    MIDIERR_NOTOPEN = 67,     // a message to a device that is not open
    MIDIERR_SYNTH = 68,       // the synthesiser could not be created
    MIDIERR_SEQUENCER = 69,   // the ALSA sequencer could not be reached
};

constexpr int32_t MIDI_MAPPER = -1;
constexpr std::size_t MAXPNAMELEN = 32; // product names hold at most 31 characters

struct MidiOutCaps {
    std::string productName; // at most 31 characters
};

class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    virtual uint32_t numDevs() = 0;
    virtual MMRESULT getDevCaps(int32_t deviceId, MidiOutCaps& caps) = 0;
    virtual MMRESULT open(HMIDIOUT& handle, int32_t deviceId) = 0;
    virtual MMRESULT close(HMIDIOUT handle) = 0;
    virtual MMRESULT shortMsg(HMIDIOUT handle, uint32_t message) = 0;
    virtual std::string errorText(MMRESULT code) = 0;

    // Scheduled sound.  A device that schedules plays a message at a time of its own clock
    // (the built-in synthesiser's is its sample clock), so that nothing the sender's thread does
    // can move it; one that does not plays every message as it is sent, and its clock is the
    // monotonic clock.
    virtual bool schedules(HMIDIOUT /*handle*/) { return false; }
    // Now on the device's clock, in nanoseconds.
    virtual int64_t clockNanos(HMIDIOUT handle);
    // Plays the message at atNanos of the device's clock (at once when that has passed, or
    // when the device does not schedule).
    virtual MMRESULT shortMsgAt(HMIDIOUT handle, uint32_t message, int64_t /*atNanos*/) {
        return shortMsg(handle, message);
    }
    // Drops every message scheduled and not yet played.
    virtual void cancelScheduled(HMIDIOUT /*handle*/) {}
    // The monotonic time at which the device renders its clock's time t (t itself for a device
    // on the monotonic clock).
    virtual int64_t toMonotonic(HMIDIOUT handle, int64_t t);
};

// The backend in use.  Created on first use from makeSystemMidi() unless a test set one.
MidiBackend& midi();
// Replace the backend (not owned).  nullptr goes back to the system backend.
void setMidi(MidiBackend* backend);

// The real devices: -1 the built-in FluidSynth synthesiser, 0..n-1 the ALSA sequencer's
// writable ports.
std::unique_ptr<MidiBackend> makeSystemMidi();

// Text for the codes that every backend shares; backends add their own details.
std::string standardMidiErrorText(MMRESULT code);

} // namespace platform
