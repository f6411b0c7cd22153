#include "sound/midi_out.h"

#include "platform/clock.h"
#include "platform/msgbox.h"

#include <QListWidget>

namespace MIDI_OUT {

platform::HMIDIOUT hMidiOut = 0;
int64_t firstSendNanos = 0;
int64_t sendAtNanos = 0;

bool Schedules() {
    return hMidiOut != 0 && platform::midi().schedules(hMidiOut);
}

int64_t LookaheadNanos() {
    return Schedules() ? kScheduleAheadNanos : 0;
}

int64_t ClockNanos() {
    return hMidiOut != 0 ? platform::midi().clockNanos(hMidiOut) : platform::monotonicNanos();
}

int64_t ToMonotonic(int64_t deviceNanos) {
    return hMidiOut != 0 ? platform::midi().toMonotonic(hMidiOut, deviceNanos) : deviceNanos;
}

void CancelScheduled() {
    if (hMidiOut != 0) {
        platform::midi().cancelScheduled(hMidiOut);
    }
}

void FillDeviceList(QListWidget* list) {
    const QSignalBlocker block(list);
    list->clear();
    auto add = [list](const platform::MidiOutCaps& caps, int32_t id) {
        auto* item = new QListWidgetItem(QString::fromStdString(caps.productName), list);
        item->setData(Qt::UserRole, id);
    };
    platform::MidiOutCaps caps;
    if (platform::midi().getDevCaps(platform::MIDI_MAPPER, caps) == platform::MMSYSERR_NOERROR) {
        add(caps, platform::MIDI_MAPPER);
    }
    const uint32_t n = platform::midi().numDevs();
    for (uint32_t id = 0; id < n; ++id) {
        platform::MidiOutCaps devCaps;
        // A device whose query fails is left out, without a word.
        if (platform::midi().getDevCaps(static_cast<int32_t>(id), devCaps) ==
            platform::MMSYSERR_NOERROR) {
            add(devCaps, static_cast<int32_t>(id));
        }
    }
}

void OpenDevice(int16_t deviceId) {
    CloseDevice();
    const platform::MMRESULT result =
        platform::midi().open(hMidiOut, static_cast<int32_t>(deviceId));
    if (result != platform::MMSYSERR_NOERROR) {
        hMidiOut = 0;
        ReportMidiError(result);
    }
}

void CloseDevice() {
    if (hMidiOut == 0) {
        return;
    }
    const platform::HMIDIOUT handle = hMidiOut;
    // Forget the handle first: the error box runs events, and nothing may send to a closed device
    // as though it were open.
    hMidiOut = 0;
    const platform::MMRESULT result = platform::midi().close(handle);
    if (result != platform::MMSYSERR_NOERROR) {
        ReportMidiError(result);
    }
}

int32_t PackShortMessage(int16_t status, int16_t data1, int16_t data2) {
    return static_cast<int32_t>(status) + static_cast<int32_t>(data1) * 256 +
           static_cast<int32_t>(data2) * 65536;
}

void SendShortMessage(int16_t status, int16_t data1, int16_t data2) {
    if (firstSendNanos == 0) {
        firstSendNanos = platform::monotonicNanos();
    }
    const int32_t message = PackShortMessage(status, data1, data2);
    const platform::MMRESULT result =
        sendAtNanos != 0
            ? platform::midi().shortMsgAt(hMidiOut, static_cast<uint32_t>(message), sendAtNanos)
            : platform::midi().shortMsg(hMidiOut, static_cast<uint32_t>(message));
    if (result != platform::MMSYSERR_NOERROR) {
        ReportMidiError(result);
    }
}

void ReportMidiError(platform::MMRESULT result) {
    std::string text = platform::midi().errorText(result);
    if (text.size() > 127) {
        text.resize(127); // the text buffer holds 128 characters with its terminator
    }
    platform::messageBox(QString::fromStdString(text));
}

} // namespace MIDI_OUT
