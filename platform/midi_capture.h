// A MIDI backend that records every message with the time it was sent, for tests and
// benchmarks.  Its devices, their names and their failures are set by the caller.
#pragma once

#include "layers/platform.h"

#include "platform/midi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class MidiCapture : public MidiBackend {
public:
    struct Device {
        std::string name;
        bool capsFail = false;
    };
    struct Message {
        HMIDIOUT handle;
        uint32_t message;
        int64_t nanos; // monotonic clock at the send
        int64_t due;   // when it is to sound on the device's clock (the send's time if at once)
    };
    enum class Call { Open, Close, Send };
    struct Event {
        Call call;
        int32_t deviceId; // for Open
        HMIDIOUT handle;
        uint32_t message; // for Send
    };

    bool hasMapper = true;
    Device mapper{"Capture Synth"};
    std::vector<Device> devices;
    MMRESULT openResult = MMSYSERR_NOERROR;
    MMRESULT closeResult = MMSYSERR_NOERROR;
    MMRESULT sendResult = MMSYSERR_NOERROR;
    // Called on every send, after it was recorded (for example to run a nested event loop).
    std::function<void(uint32_t)> onSend;
    // Whether the device schedules its messages, and its clock (empty: the monotonic clock).
    bool scheduling = false;
    std::function<int64_t()> clock;
    int cancels = 0;

    std::vector<Message> messages;
    std::vector<Event> events;
    int openCount = 0;
    int closeCount = 0;
    HMIDIOUT openHandle = 0; // 0 when none is open
    int32_t openDevice = -2;

    uint32_t numDevs() override;
    MMRESULT getDevCaps(int32_t deviceId, MidiOutCaps& caps) override;
    MMRESULT open(HMIDIOUT& handle, int32_t deviceId) override;
    MMRESULT close(HMIDIOUT handle) override;
    MMRESULT shortMsg(HMIDIOUT handle, uint32_t message) override;
    std::string errorText(MMRESULT code) override;
    bool schedules(HMIDIOUT handle) override;
    int64_t clockNanos(HMIDIOUT handle) override;
    MMRESULT shortMsgAt(HMIDIOUT handle, uint32_t message, int64_t atNanos) override;
    void cancelScheduled(HMIDIOUT handle) override;
    int64_t toMonotonic(HMIDIOUT handle, int64_t t) override;

    // The sent messages alone, in order.
    std::vector<uint32_t> sent() const;
    void clear();

private:
    HMIDIOUT nextHandle = 0x100;
};

} // namespace platform
