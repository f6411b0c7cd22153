// Stand-in for the real devices until the built-in synthesiser lands: one silent device -1.
#include "platform/midi.h"

namespace platform {

namespace {
class SilentMidi : public MidiBackend {
public:
    uint32_t numDevs() override { return 0; }
    MMRESULT getDevCaps(int32_t id, MidiOutCaps& caps) override {
        if (id != MIDI_MAPPER) {
            return MMSYSERR_BADDEVICEID;
        }
        caps.productName = "Silent stand-in synth";
        return MMSYSERR_NOERROR;
    }
    MMRESULT open(HMIDIOUT& handle, int32_t id) override {
        if (id != MIDI_MAPPER) {
            return MMSYSERR_BADDEVICEID;
        }
        handle = 1;
        return MMSYSERR_NOERROR;
    }
    MMRESULT close(HMIDIOUT handle) override {
        return handle == 1 ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    }
    MMRESULT shortMsg(HMIDIOUT handle, uint32_t) override {
        return handle == 1 ? MMSYSERR_NOERROR : MIDIERR_NOTOPEN;
    }
    std::string errorText(MMRESULT code) override { return standardMidiErrorText(code); }
};
} // namespace

std::unique_ptr<MidiBackend> makeSystemMidi() { return std::make_unique<SilentMidi>(); }

} // namespace platform
