// What the input's source files share (audio_input.cpp: the ids, texts and backends;
// audio_devices.cpp: the sound cards and which one is chosen; audio_capture.cpp: the RtAudio
// stream; wav_file.cpp: WAV files and the file input).  Private to them.
#pragma once

#include "layers/platform.h"

#include "platform/audio_input.h"

#include <rtaudio/RtAudio.h>

#include <memory>
#include <string>
#include <vector>

namespace platform::input_parts {

inline constexpr const char* loopbackId = "loopback";
inline constexpr const char* loopbackName = "Clefwork's own sound";
inline constexpr int minRate = 8000;
inline constexpr int maxRate = 192000;

bool hasPrefix(const std::string& id, const char* prefix);
std::string lowered(std::string text);

// ---------------------------------------------------------------------------------------------
// Devices (audio_devices.cpp)

// The APIs to look for devices in, in the order they are offered.
std::vector<RtAudio::Api> audioApis();

// ALSA's library prints its complaints (no card, no such device) to stderr while RtAudio probes;
// while one of these lives they are dropped, RtAudio reports the failure itself.
class AlsaQuiet {
public:
    AlsaQuiet();
    ~AlsaQuiet();
    AlsaQuiet(const AlsaQuiet&) = delete;
    AlsaQuiet& operator=(const AlsaQuiet&) = delete;
};

// An RtAudio of that API with its warnings off, or nullptr.
std::unique_ptr<RtAudio> newRtAudio(RtAudio::Api api);

struct AudioDevice {
    unsigned int index = 0;
    RtAudio::DeviceInfo info;
};

// The devices that could be probed and have inputs.
std::vector<AudioDevice> inputDevices(RtAudio& audio);
// How many devices could not be probed (held by another program).
int unprobedDevices(RtAudio& audio);
// 48 kHz when the device has it, else its preferred rate, else the nearest it lists; 0 for none.
unsigned int pickRate(const RtAudio::DeviceInfo& info);

// Every audio input device of every API.
std::vector<InputChoice> audioChoices();
// The device an "audio:<api>:<name>" id names, not yet started; nullptr with error filled in.
std::unique_ptr<InputSource> openAudioDevice(const std::string& id, InputError& error);

// ---------------------------------------------------------------------------------------------
// Capture (audio_capture.cpp)

// Frames a capture buffer asks for.
inline constexpr auto captureFrames = static_cast<unsigned int>(kInputBlockFrames);

// The stream of the named device of that API, not yet started.
std::unique_ptr<InputSource> makeAudioCapture(RtAudio::Api api, std::string deviceName);

} // namespace platform::input_parts
