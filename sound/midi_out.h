// The one open MIDI output, the device list, and the platform's error texts in a message box.
#pragma once

#include "layers/platform.h"

#include "platform/midi.h"

#include <cstdint>

class QListWidget;

namespace MIDI_OUT {

extern platform::HMIDIOUT hMidiOut;
// When the first message since it was last set to 0 went out (monotonic nanoseconds): the time
// of a beat is when its tick sent its first message.
extern int64_t firstSendNanos;
// While not 0, messages are played at this time of the open device's clock (see
// platform::MidiBackend::shortMsgAt) instead of at once.
extern int64_t sendAtNanos;

// The open device's scheduling and clock (the monotonic clock, sending at once, when none is
// open).
bool Schedules();
// How far ahead of its time a sound is sent to a device that schedules: enough for a tick that
// waits on a busy core or draws a bar; what a tick shows is held back until its beat sounds.
constexpr int64_t kScheduleAheadNanos = 50'000'000;
// kScheduleAheadNanos for a device that schedules, 0 for one that plays at once.
int64_t LookaheadNanos();
int64_t ClockNanos();
int64_t ToMonotonic(int64_t deviceNanos);
void CancelScheduled();

void FillDeviceList(QListWidget* list);
void OpenDevice(int16_t deviceId);
void CloseDevice();
void SendShortMessage(int16_t status, int16_t data1, int16_t data2);
int32_t PackShortMessage(int16_t status, int16_t data1, int16_t data2);
void ReportMidiError(platform::MMRESULT result);

} // namespace MIDI_OUT
