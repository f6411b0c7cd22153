#include "platform/midi.h"

#include "platform/clock.h"

namespace platform {

namespace {
MidiBackend* overrideBackend = nullptr;
std::unique_ptr<MidiBackend>& systemBackend() {
    static std::unique_ptr<MidiBackend> backend;
    return backend;
}
} // namespace

MidiBackend& midi() {
    if (overrideBackend != nullptr) {
        return *overrideBackend;
    }
    auto& sys = systemBackend();
    if (!sys) {
        sys = makeSystemMidi();
    }
    return *sys;
}

void setMidi(MidiBackend* backend) {
    overrideBackend = backend;
}

int64_t MidiBackend::clockNanos(HMIDIOUT /*handle*/) {
    return monotonicNanos();
}

int64_t MidiBackend::toMonotonic(HMIDIOUT /*handle*/, int64_t t) {
    return t;
}

std::string standardMidiErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The MIDI call succeeded.";
    case MMSYSERR_ERROR:
        return "An unspecified error occurred in the MIDI output.";
    case MMSYSERR_BADDEVICEID:
        return "The MIDI output device does not exist. Choose another one from the Midi Device "
               "list.";
    case MMSYSERR_ALLOCATED:
        return "The MIDI output device is already in use by another program.";
    case MMSYSERR_INVALHANDLE:
        return "No MIDI output device is open. Choose one from the Midi Device list.";
    case MMSYSERR_NODRIVER:
        return "No MIDI driver is installed for this device.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory for the MIDI output.";
    case MMSYSERR_INVALPARAM:
        return "The MIDI message was not valid.";
    case MIDIERR_NOSOUNDFONT:
        return "No General MIDI soundfont was found. Install the package fluid-soundfont-gm "
               "(or timgm6mb-soundfont), or name a soundfont file in CLEFWORK_SOUNDFONT.";
    case MIDIERR_NOAUDIO:
        return "No audio output could be started for the built-in synthesiser. "
               "CLEFWORK_AUDIO_DRIVER=file writes a WAV instead.";
    case MIDIERR_PORTGONE:
        return "The MIDI port has gone away. Choose another device from the Midi Device list.";
    case MIDIERR_NOTOPEN:
        return "No MIDI output device is open. Choose one from the Midi Device list.";
    case MIDIERR_SYNTH:
        return "The built-in synthesiser could not be created.";
    case MIDIERR_SEQUENCER:
        return "The ALSA sequencer could not be reached.";
    default:
        return "Unknown MIDI error " + std::to_string(code) + ".";
    }
}

} // namespace platform
