#include "platform/midi_capture.h"

#include "platform/clock.h"

namespace platform {

uint32_t MidiCapture::numDevs() {
    return static_cast<uint32_t>(devices.size());
}

MMRESULT MidiCapture::getDevCaps(int32_t deviceId, MidiOutCaps& caps) {
    const Device* dev = nullptr;
    if (deviceId == MIDI_MAPPER) {
        dev = hasMapper ? &mapper : nullptr;
    } else if (deviceId >= 0 && static_cast<std::size_t>(deviceId) < devices.size()) {
        dev = &devices[static_cast<std::size_t>(deviceId)];
    }
    if (dev == nullptr) {
        return MMSYSERR_BADDEVICEID;
    }
    if (dev->capsFail) {
        return MMSYSERR_NODRIVER;
    }
    caps.productName = dev->name.substr(0, MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT MidiCapture::open(HMIDIOUT& handle, int32_t deviceId) {
    events.push_back({Call::Open, deviceId, 0, 0});
    ++openCount;
    if (openResult != MMSYSERR_NOERROR) {
        handle = 0;
        return openResult;
    }
    handle = ++nextHandle;
    openHandle = handle;
    openDevice = deviceId;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiCapture::close(HMIDIOUT handle) {
    events.push_back({Call::Close, -2, handle, 0});
    ++closeCount;
    if (handle == openHandle) {
        openHandle = 0;
        openDevice = -2;
    }
    return closeResult;
}

MMRESULT MidiCapture::shortMsg(HMIDIOUT handle, uint32_t message) {
    return shortMsgAt(handle, message, 0);
}

bool MidiCapture::schedules(HMIDIOUT /*handle*/) {
    return scheduling;
}

int64_t MidiCapture::clockNanos(HMIDIOUT /*handle*/) {
    return clock ? clock() : monotonicNanos();
}

int64_t MidiCapture::toMonotonic(HMIDIOUT /*handle*/, int64_t t) {
    return clock ? monotonicNanos() + (t - clock()) : t;
}

void MidiCapture::cancelScheduled(HMIDIOUT /*handle*/) {
    ++cancels;
}

MMRESULT MidiCapture::shortMsgAt(HMIDIOUT handle, uint32_t message, int64_t atNanos) {
    events.push_back({Call::Send, -2, handle, message});
    const int64_t now = clockNanos(handle);
    messages.push_back(
        {handle, message, monotonicNanos(), scheduling && atNanos > now ? atNanos : now});
    MMRESULT result = sendResult;
    if (result == MMSYSERR_NOERROR && (handle == 0 || handle != openHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (onSend) {
        onSend(message);
    }
    return result;
}

std::string MidiCapture::errorText(MMRESULT code) {
    return "Capture: " + standardMidiErrorText(code);
}

std::vector<uint32_t> MidiCapture::sent() const {
    std::vector<uint32_t> out;
    out.reserve(messages.size());
    for (const auto& m : messages) {
        out.push_back(m.message);
    }
    return out;
}

void MidiCapture::clear() {
    messages.clear();
    events.clear();
}

} // namespace platform
