// The audio output of the built-in synthesiser.  FluidSynth does not fall back from one audio
// driver to the next, so the drivers are tried in turn: PulseAudio (PipeWire desktops serve it
// too), ALSA, JACK (only where a JACK server shows signs of running: its client would otherwise
// try to start one), SDL2; or only the one that CLEFWORK_AUDIO_DRIVER names.
#pragma once

#include "platform/fluid_engine.h"

#include <string>
#include <vector>

namespace platform {

struct AudioEnvironment {
    std::string forcedDriver; // CLEFWORK_AUDIO_DRIVER, "" for none
    std::string wavFile;      // CLEFWORK_AUDIO_FILE, where the file driver writes
    bool jackServerSeen = false;

    // Read from the process environment and /dev/shm.
    static AudioEnvironment fromProcess();
};

// The drivers to try, in order.
std::vector<std::string> audioDriverOrder(const AudioEnvironment& env);
// The sample rate the synthesiser is to be created with for these drivers (0: FluidSynth's own
// default, which the sound servers resample as needed).
double audioSampleRate(const AudioEnvironment& env);

class FluidAudio {
public:
    FluidAudio() = default;
    ~FluidAudio();
    FluidAudio(const FluidAudio&) = delete;
    FluidAudio& operator=(const FluidAudio&) = delete;

    // Starts the first driver that works for the engine's synthesiser.  On failure error holds
    // a text naming the drivers tried.
    bool start(FluidEngine& engine, const AudioEnvironment& env, std::string& error);
    // Stops the driver and its thread; nothing more is rendered.
    void stop();
    bool running() const { return driver_ != nullptr; }
    const std::string& driverName() const { return name_; }

private:
    fluid_audio_driver_t* driver_ = nullptr;
    std::string name_;
    bool sdlStarted_ = false;
};

} // namespace platform
