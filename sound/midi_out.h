// The one open MIDI output, the device list, and the platform's error texts in a message box.
#pragma once

#include "platform/midi.h"

#include <cstdint>

class QListWidget;

namespace MIDI_OUT {

extern platform::HMIDIOUT hMidiOut;
// When the first message since it was last set to 0 went out (monotonic nanoseconds): the time
// of a beat is when its tick sent its first message.
extern int64_t firstSendNanos;

void FillDeviceList(QListWidget* list);
void OpenDevice(int16_t deviceId);
void CloseDevice();
void SendShortMessage(int16_t status, int16_t data1, int16_t data2);
int32_t PackShortMessage(int16_t status, int16_t data1, int16_t data2);
void ReportMidiError(platform::MMRESULT result);

} // namespace MIDI_OUT
