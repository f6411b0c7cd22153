#include "platform/audio_input_parts.h"

#include "platform/fluid_audio.h"

#include <dlfcn.h>

#include <algorithm>

namespace platform::input_parts {

std::vector<RtAudio::Api> audioApis() {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    const bool jack = AudioEnvironment::fromProcess().jackServerSeen;
    std::vector<RtAudio::Api> apis;
    for (RtAudio::Api api : {RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA, RtAudio::UNIX_JACK}) {
        const bool built = std::find(compiled.begin(), compiled.end(), api) != compiled.end();
        // Without a server the JACK client would try to start one.
        if (built && (api != RtAudio::UNIX_JACK || jack)) {
            apis.push_back(api);
        }
    }
    return apis;
}

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);

void setAlsaHandler(AlsaHandler handler) {
    using SetFn = int (*)(AlsaHandler);
    if (auto fn = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) {
        fn(handler);
    }
}

std::string apiLabel(RtAudio::Api api) {
    switch (api) {
    case RtAudio::LINUX_PULSE:
        return "PulseAudio";
    case RtAudio::LINUX_ALSA:
        return "ALSA";
    case RtAudio::UNIX_JACK:
        return "JACK";
    default:
        return RtAudio::getApiDisplayName(api);
    }
}

} // namespace

AlsaQuiet::AlsaQuiet() {
    setAlsaHandler(quietAlsa);
}

AlsaQuiet::~AlsaQuiet() {
    setAlsaHandler(nullptr);
}

std::unique_ptr<RtAudio> newRtAudio(RtAudio::Api api) {
    try {
        auto audio = std::make_unique<RtAudio>(api);
        audio->showWarnings(false);
        return audio;
    } catch (const RtAudioError&) {
        return nullptr;
    }
}

std::vector<AudioDevice> inputDevices(RtAudio& audio) {
    std::vector<AudioDevice> devices;
    try {
        const unsigned int count = audio.getDeviceCount();
        for (unsigned int i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
            if (info.probed && info.inputChannels > 0) {
                devices.push_back({i, std::move(info)});
            }
        }
    } catch (const RtAudioError&) {
    }
    return devices;
}

int unprobedDevices(RtAudio& audio) {
    int count = 0;
    try {
        const unsigned int devices = audio.getDeviceCount();
        for (unsigned int i = 0; i < devices; ++i) {
            count += audio.getDeviceInfo(i).probed ? 0 : 1;
        }
    } catch (const RtAudioError&) {
    }
    return count;
}

// 48 kHz when the device has it, else its preferred rate, else the nearest it lists; 0 for none.
unsigned int pickRate(const RtAudio::DeviceInfo& info) {
    const auto usable = [](unsigned int r) {
        return r >= static_cast<unsigned>(minRate) && r <= static_cast<unsigned>(maxRate);
    };
    const auto& rates = info.sampleRates;
    if (std::find(rates.begin(), rates.end(), 48000u) != rates.end()) {
        return 48000;
    }
    if (usable(info.preferredSampleRate) &&
        std::find(rates.begin(), rates.end(), info.preferredSampleRate) != rates.end()) {
        return info.preferredSampleRate;
    }
    unsigned int best = 0;
    for (unsigned int r : rates) {
        const auto distance = [](unsigned int a) { return a > 48000u ? a - 48000u : 48000u - a; };
        if (usable(r) && (best == 0 || distance(r) < distance(best))) {
            best = r;
        }
    }
    return best;
}

std::vector<InputChoice> audioChoices() {
    const AlsaQuiet quiet;
    std::vector<InputChoice> list;
    for (RtAudio::Api api : audioApis()) {
        auto audio = newRtAudio(api);
        if (!audio) {
            continue;
        }
        for (const AudioDevice& device : inputDevices(*audio)) {
            list.push_back({"audio:" + RtAudio::getApiName(api) + ":" + device.info.name,
                            device.info.name + " (" + apiLabel(api) + ")", InputKind::Audio,
                            static_cast<int>(device.info.inputChannels)});
        }
    }
    return list;
}

std::unique_ptr<InputSource> openAudioDevice(const std::string& id, InputError& error) {
    // "audio:<api>:<name>"
    const std::size_t colon = id.find(':', 6);
    if (!hasPrefix(id, "audio:") || colon == std::string::npos) {
        error = {InputFailure::NoDevice, input_text::noInput()};
        return nullptr;
    }
    const RtAudio::Api api = RtAudio::getCompiledApiByName(id.substr(6, colon - 6));
    const std::string name = id.substr(colon + 1);
    const std::vector<RtAudio::Api> apis = audioApis();
    if (std::find(apis.begin(), apis.end(), api) == apis.end()) {
        error = {InputFailure::NoDevice, input_text::notFound(name)};
        return nullptr;
    }
    return makeAudioCapture(api, name);
}

} // namespace platform::input_parts
